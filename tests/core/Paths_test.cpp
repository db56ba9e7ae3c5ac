#include <gtest/gtest.h>

#include <string>

#include "PlatformPath.h"
#include "base/Paths.h"
#include "base/Unicode.h"

namespace {

using testsupport::kOtherSeparator;
using testsupport::PlatformPath;

TEST(Paths, FileBesideTheModuleKeepsEverythingUpToTheLastSeparator)
{
    const std::u16string other(1, kOtherSeparator);
    const std::pair<std::u16string, std::u16string> cases[] = {
        {PlatformPath(u"/opt/perennix/perennix"), PlatformPath(u"/opt/perennix/config.ini")},
        {PlatformPath(u"/perennix"), PlatformPath(u"/config.ini")},
        {u"perennix", u"config.ini"},
        {u"", u"config.ini"},
        {PlatformPath(u"/opt/中文 目录/perennix"), PlatformPath(u"/opt/中文 目录/config.ini")},
        {PlatformPath(u"/opt/perennix/"), PlatformPath(u"/opt/perennix/config.ini")},
        {PlatformPath(u"//perennix"), PlatformPath(u"//config.ini")},
        // The other platform's separator is part of a name.
        {u"opt" + other + u"perennix", u"config.ini"},
        {PlatformPath(u"/opt/a") + other + u"perennix", PlatformPath(u"/opt/config.ini")},
    };
    for (const auto& [module, beside] : cases)
        EXPECT_EQ(px::PathBesideModule(module, u"config.ini"), beside) << px::ToUtf8(module);
}

}  // namespace
