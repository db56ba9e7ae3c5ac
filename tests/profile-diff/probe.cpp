// What the Windows profile functions read: for each line "PATH<TAB>SECTION<TAB>KEY" (UTF-8)
// of the query file, prints the result of GetPrivateProfileStringW with a buffer of 500
// units and the default "<default>" as "S <UTF-16 units in hex>", then the result of
// GetPrivateProfileIntW with the default -7777 as "I <number>". Built with the MinGW-w64
// cross compiler and run under Wine by run.sh; it stands for the Windows functions.
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    FILE* queries = _wfopen(argv[1], L"rb");
    if (!queries)
        return 2;
    _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as profile_diff reads them
    std::printf("ACP %u\n", GetACP());
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, queries)) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        const std::vector<std::string> fields = Fields(line);
        if (fields.size() != 3)
            continue;
        const std::wstring path = Wide(fields[0]);
        const std::wstring section = Wide(fields[1]);
        const std::wstring key = Wide(fields[2]);
        wchar_t value[500];
        const DWORD length
            = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<default>", value, 500, path.c_str());
        std::printf("S ");
        for (DWORD i = 0; i < length; ++i)
            std::printf("%04X", static_cast<unsigned>(value[i]));
        std::printf(
            "\nI %d\n", static_cast<int>(GetPrivateProfileIntW(section.c_str(), key.c_str(), -7777, path.c_str())));
    }
    std::fclose(queries);
    return 0;
}
