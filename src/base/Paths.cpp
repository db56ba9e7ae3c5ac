#include "base/Paths.h"

namespace px {

std::u16string PathBesideModule(const std::u16string& modulePath, std::u16string_view fileName)
{
    const size_t separator = modulePath.rfind(kPathSeparator);
    std::u16string path = separator == std::u16string::npos ? std::u16string() : modulePath.substr(0, separator + 1);
    path += fileName;
    return path;
}

}  // namespace px
