#pragma once
// One value of a settings file, read the way the program reads it (the whole file parsed once
// per call): the tests' short form of LoadProfile(path).GetString / GetInt.

#include <cstdint>
#include <string>

#include "settings/ProfileFile.h"

namespace px {

// The value of key in section, or def when the file, section or key is missing.
inline std::u16string ReadProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& def)
{
    return LoadProfile(path).GetString(section, key, def);
}
// The value read as an integer, or def.
inline int32_t ReadProfileInt(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, int32_t def)
{
    return LoadProfile(path).GetInt(section, key, def);
}

}  // namespace px
