#include "backends/win32/ProcessUser.h"

#include "backends/win32/UniqueHandle.h"

namespace px::win32 {

std::vector<BYTE> TokenUserOf(HANDLE process)
{
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &raw))
        return {};
    const UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const DWORD length = ::GetLengthSid(sid);
    const auto* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + length);
}

bool IsOwnProcess(HANDLE process, DWORD pid, const std::vector<BYTE>& me, DWORD mySession)
{
    if (process && process != INVALID_HANDLE_VALUE && !me.empty())
        if (const std::vector<BYTE> user = TokenUserOf(process); !user.empty())
            return user == me;
    DWORD session = 0;
    return ::ProcessIdToSessionId(pid, &session) && session == mySession && session != 0;
}

std::wstring ProgramOf(HANDLE process)
{
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size))
        return {};
    path.resize(size);
    return path;
}

}  // namespace px::win32
