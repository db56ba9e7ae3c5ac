// The system's ANSI code page on Windows: lead bytes, decoding and encoding as the profile functions do it.

#include "backends/win32/Win32CodePage.h"

#include <climits>
#include <string>

#include "backends/win32/WideText.h"
#include "backends/win32/WinPrelude.h"

using px::win32::Wide;

bool Win32AnsiCodePage::IsLeadByte(unsigned char byte) const { return ::IsDBCSLeadByteEx(CP_ACP, byte) != 0; }

std::u16string Win32AnsiCodePage::Decode(std::string_view bytes, size_t* invalid) const
{
    // The conversion the profile functions use: a bad character becomes the default
    // character alone.
    const auto convert = [](std::string_view part, DWORD flags) {
        std::wstring text;
        const int length = static_cast<int>(part.size());
        const int units = ::MultiByteToWideChar(CP_ACP, flags, part.data(), length, nullptr, 0);
        if (units > 0) {
            text.resize(static_cast<size_t>(units));
            ::MultiByteToWideChar(CP_ACP, flags, part.data(), length, text.data(), units);
        }
        return text;
    };
    if (bytes.empty() || bytes.size() > INT_MAX)
        return std::u16string();
    if (!invalid)
        return px::win32::FromWide(convert(bytes, 0));
    // Counting the bad characters takes one character at a time.
    std::u16string text;
    for (size_t i = 0; i < bytes.size();) {
        const bool pair
            = IsLeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < bytes.size() && bytes[i + 1] != '\0';
        const std::string_view character = bytes.substr(i, pair ? 2 : 1);
        if (convert(character, MB_ERR_INVALID_CHARS).empty())
            ++*invalid;
        text += px::win32::FromWide(convert(character, 0));
        i += character.size();
    }
    return text;
}

std::optional<std::string> Win32AnsiCodePage::Encode(std::u16string_view text) const
{
    if (text.empty())
        return std::string();
    if (text.size() > INT_MAX / 4)
        return std::nullopt;
    const std::wstring wide = Wide(text);
    const int length = static_cast<int>(wide.size());
    // UTF-8 as the ANSI code page takes neither flags nor a default character.
    const bool utf8 = ::GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(
        CP_ACP, flags, wide.data(), length, bytes.data(), size, nullptr, utf8 ? nullptr : &usedDefault);
    // Only what decodes back to the same text has a form in the code page.
    if (usedDefault || Decode(bytes, nullptr) != text)
        return std::nullopt;
    return bytes;
}
