#pragma once
// Test paths written with "/" between their parts, as this platform's path text.

#include <algorithm>
#include <string>
#include <string_view>

#include "base/Paths.h"

namespace testsupport {

// The other platform's separator: an ordinary file name character here.
inline constexpr char16_t kOtherSeparator = px::kPathSeparator == u'/' ? u'\\' : u'/';

// path with every "/" replaced by this platform's separator.
inline std::u16string PlatformPath(std::u16string_view path)
{
    std::u16string text(path);
    std::replace(text.begin(), text.end(), u'/', px::kPathSeparator);
    return text;
}

}  // namespace testsupport
