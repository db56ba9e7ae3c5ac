#pragma once
// The INI profile file, read and written the same way on every platform, in place of the
// Win32 profile functions. Values are UTF-16 text; the file may be UTF-16LE with BOM,
// UTF-8 with or without BOM, or the system's legacy code page (GBK).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace px {

// The value of key in section, or def when the file, section or key is missing. Names
// match ASCII-case-insensitively, the first match wins, blanks around names and values are
// trimmed, enclosing quotes are kept; the value is returned whole.
std::u16string ReadProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& def);
// The value read as an integer (optional sign, leading digits, 0 when none; saturating),
// or def when the key is missing.
int32_t ReadProfileInt(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, int32_t def);
// Sets key in section to value, keeping everything else of the file; creates the file,
// the section and the key as needed. CR, LF and NUL in value never break its line: a UTF-8
// file keeps them (as the overlong forms C0 8D, C0 8A, C0 80), a UTF-16 file gets spaces.
// False when the file could not be written (it is then unchanged).
bool WriteProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& value);
// Sets several keys of section in one replacement of the file, in the given order, as the
// same calls one by one would; either all of them are written or none.
bool WriteProfileStrings(const std::u16string& path, const std::u16string& section,
    const std::vector<std::pair<std::u16string, std::u16string>>& keyValues);

}  // namespace px
