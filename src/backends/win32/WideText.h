#pragma once
// The program's UTF-16 text as Windows' wide strings: wchar_t is a UTF-16 unit on Windows,
// so the conversion copies the units unchanged.

#include <string>
#include <string_view>

namespace px::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds one UTF-16 unit on Windows");

inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace px::win32
