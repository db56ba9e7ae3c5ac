#pragma once
// Paths as the program's UTF-16 text.

#include <string>
#include <string_view>

namespace px {

// The separator between a folder and a file name in this platform's paths.
#if defined(_WIN32)
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// fileName in the folder of modulePath: the path cut after its last separator (nothing
// kept when it has none), then fileName.
std::u16string PathBesideModule(const std::u16string& modulePath, std::u16string_view fileName);

}  // namespace px
