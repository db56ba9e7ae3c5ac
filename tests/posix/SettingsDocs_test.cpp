// The user's documents name every key of the settings table: the README's table of every key
// (with the key's type, default and range) and the man page's SETTINGS section.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/DecimalText.h"
#include "base/Unicode.h"
#include "settings/SettingsTable.h"

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text from heading to the next heading of any level.
std::string Section(const std::string& text, const std::string& heading)
{
    const size_t begin = text.find(heading);
    if (begin == std::string::npos)
        return {};
    const size_t end = text.find("\n#", begin + heading.size());
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string U8(std::u16string_view text) { return px::ToUtf8(std::u16string(text)); }

const char* TypeWord(SettingType type)
{
    switch (type) {
    case SettingType::Flag:
        return "flag";
    case SettingType::Number:
        return "number";
    case SettingType::Text:
        break;
    }
    return "text";
}

TEST(SettingsDocs, TheReadmesTableHasARowForEveryKeyWithItsTypeDefaultAndRange)
{
    const std::string table = Section(ReadText(PX_SOURCE_DIR "/README.md"), "\n### Every key\n");
    ASSERT_FALSE(table.empty()) << "README.md has no section \"### Every key\"";
    for (const SettingKey& key : SettingsTable()) {
        SCOPED_TRACE(U8(key.strKey));
        const std::string defaultText = key.strDefault.empty() ? "empty" : "`" + U8(key.strDefault) + "`";
        const std::string row = "\n| `" + U8(key.strKey) + "` | " + TypeWord(key.type) + " | " + defaultText + " | ";
        const size_t at = table.find(row);
        ASSERT_NE(at, std::string::npos) << "no row " << row;
        const std::string line = table.substr(at + 1, table.find('\n', at + 1) - at - 1);
        if (key.range.bChecked) {
            const std::string range
                = px::ToUtf8(px::IToW(key.range.nLow)) + " to " + px::ToUtf8(px::IToW(key.range.nHigh));
            EXPECT_NE(line.find(" | " + range + " | "), std::string::npos) << line;
        }
    }
}

TEST(SettingsDocs, TheManPageNamesEveryKey)
{
    const std::string settings = Section(ReadText(PX_SOURCE_DIR "/packaging/linux/perennix.1"), "\n.SH SETTINGS\n");
    ASSERT_FALSE(settings.empty()) << "perennix.1 has no SETTINGS section";
    for (const SettingKey& key : SettingsTable())
        EXPECT_NE(settings.find("\n.TP\n.B " + U8(key.strKey) + "\n"), std::string::npos) << U8(key.strKey);
}

}  // namespace
