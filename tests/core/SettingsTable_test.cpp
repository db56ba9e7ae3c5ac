// The table of settings: each key's entry against the record and the 高级设置 template, and the
// reader and writers it drives against config.ini.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "MemoryFolder.h"
#include "SettingsSamples.h"
#include "base/Unicode.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"
#include "settings/GuardConfig.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsTable.h"

namespace {

using testsupport::ChangedValueText;
using testsupport::EveryKeyChanged;
using testsupport::ValueText;

std::string U8(std::u16string_view text) { return px::ToUtf8(std::u16string(text)); }

// The keys of the section, in the file's order.
std::vector<std::u16string> KeysIn(const std::u16string& ini)
{
    std::vector<std::u16string> keys;
    for (const SettingKey& key : SettingsTable())
        if (px::LoadProfile(ini).Find(SETTINGS_SECTION, key.strKey))
            keys.emplace_back(key.strKey);
    return keys;
}

TEST(SettingsTable, EachKeyOnceWithItsFieldItsDefaultAndItsRange)
{
    std::set<std::u16string_view> seen;
    StoredSettings defaults;
    for (const SettingKey& key : SettingsTable()) {
        SCOPED_TRACE(U8(key.strKey));
        EXPECT_TRUE(seen.insert(key.strKey).second) << "twice in the table";
        EXPECT_EQ(FindSetting(key.strKey), &key);
        EXPECT_EQ(key.field.flag != nullptr, key.type == SettingType::Flag);
        EXPECT_EQ(key.field.number != nullptr, key.type == SettingType::Number);
        EXPECT_EQ(key.field.text != nullptr, key.type == SettingType::Text);
        // The record's own default (what the guard gets from a file without the key) is the
        // table's; the main window's keys are always in a file Perennix saved.
        if (key.owner == SettingOwner::Advanced || key.owner == SettingOwner::FileOnly) {
            EXPECT_EQ(U8(ValueText(key, defaults)), U8(key.strDefault));
        }
        if (key.range.bChecked) {
            EXPECT_EQ(key.type, SettingType::Number);
            EXPECT_LE(key.range.nLow, px::WToI(key.strDefault));
            EXPECT_GE(key.range.nHigh, px::WToI(key.strDefault));
        }
        // 高级设置's keys and no others have a row; each number of a row has its range and name.
        EXPECT_EQ(key.row.nControlId != 0, key.owner == SettingOwner::Advanced);
        if (key.owner == SettingOwner::Advanced && key.type == SettingType::Number) {
            EXPECT_TRUE(key.range.bChecked);
            EXPECT_FALSE(key.row.strRefusalName.empty());
        }
    }
    EXPECT_EQ(FindSetting(u"NO_SUCH_KEY"), nullptr);
    EXPECT_EQ(FindSetting(u"loopsec"), nullptr) << "keys are compared as written";
}

// The rows of the dialog are the table's: each row's control in the template is the kind its
// type needs and carries the table's label; every setting control of the template is a row.
TEST(SettingsTable, TheRowsOfTheDialogAreTheTablesWithTheirLabels)
{
    const DialogTemplate* tpl = FindDialogTemplate(IDD_SETTINGS);
    ASSERT_NE(tpl, nullptr);
    const auto control = [&](int id) -> const ControlTemplate* {
        for (const ControlTemplate& c : tpl->controls)
            if (c.id == id)
                return &c;
        return nullptr;
    };
    std::set<int> rows;
    for (const SettingKey& key : SettingsTable()) {
        if (key.row.nControlId == 0)
            continue;
        SCOPED_TRACE(U8(key.strKey));
        rows.insert(key.row.nControlId);
        const ControlTemplate* c = control(key.row.nControlId);
        ASSERT_NE(c, nullptr);
        if (key.type == SettingType::Flag) {
            EXPECT_EQ(c->kind, ControlKind::AutoCheckBox);
            EXPECT_EQ(U8(c->text), U8(key.row.strLabel));
            continue;
        }
        EXPECT_EQ(c->kind, ControlKind::Edit);
        // The label on the edit's line, left of it.
        const auto label = std::find_if(tpl->controls.begin(), tpl->controls.end(), [&](const ControlTemplate& l) {
            return l.kind == ControlKind::Label && l.x < c->x && l.y >= c->y && l.y < c->y + c->cy;
        });
        ASSERT_NE(label, tpl->controls.end());
        EXPECT_EQ(U8(label->text), U8(key.row.strLabel));
    }
    for (const ControlTemplate& c : tpl->controls) {
        const bool setting = c.kind == ControlKind::Edit || c.kind == ControlKind::AutoCheckBox;
        if (setting && c.id != IDC_STARTATLOGIN) {
            EXPECT_EQ(rows.count(c.id), 1u) << "control " << c.id << " is no row of the table";
        }
    }
}

TEST(SettingsTable, ARowTakesWholeNumbersInItsRangeAndValidAddresses)
{
    const struct {
        std::u16string key;
        std::u16string typed;
        std::u16string refusal;  // empty: taken
    } cases[] = {
        {u"BACKOFF_MAX_SEC", u"-5", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"abc", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"0", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"86401", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"+5", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u" 5", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"9999999999", u"最长等待应为 1 到 86400 之间的整数！"},
        {u"BACKOFF_MAX_SEC", u"1", u""},
        {u"BACKOFF_MAX_SEC", u"86400", u""},
        {u"MIN_UPTIME_SEC", u"-5", u"最短运行时间应为 1 到 86400 之间的整数！"},
        {u"MIN_UPTIME_SEC", u"007", u""},
        {u"PROBE_FAILS", u"101", u"连续失败次数应为 1 到 100 之间的整数！"},
        {u"STOP_TIMEOUT_SEC", u"0", u""},
        {u"GW_LOGIN_SEC", u"1e3", u"登录超时应为 0 到 86400 之间的整数！"},
        {u"PROBE_TCP", u"gateway:4001", kTcpTargetRefused},
        {u"PROBE_TCP", u"", u""},
        {u"PROBE_TCP", u"4001", u""},
        {u"EVENT_CMD", u"-5", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U8(c.key) + "=" + U8(c.typed));
        const SettingKey* key = FindSetting(c.key);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(U8(RowRefusal(*key, c.typed).value_or(u"")), U8(c.refusal));
        if (c.refusal.empty()) {
            StoredSettings settings;
            TakeRowText(*key, c.typed, settings);
            EXPECT_EQ(U8(ValueText(*key, settings)),
                U8(key->type == SettingType::Number ? px::IToW(px::WToI(c.typed)) : c.typed));
        }
    }
}

class SettingsFile : public ::testing::Test {
protected:
    testsupport::MemoryFolder dir;
    const std::u16string ini = dir.File("config.ini");
};

TEST_F(SettingsFile, EveryKeyComesBackFromItsWriter)
{
    // The title lists are the user's: typed into the file, never written.
    std::string fileOnly = "[PX_SETTING]\r\n";
    for (const SettingKey& key : SettingsTable())
        if (key.owner == SettingOwner::FileOnly)
            fileOnly += U8(key.strKey) + "=" + U8(ChangedValueText(key)) + "\r\n";
    dir.Write(ini, fileOnly);

    StoredSettings written = EveryKeyChanged();
    ASSERT_TRUE(WriteMainWindowSettings(ini, written.config));
    ASSERT_TRUE(WriteAdvancedSettings(ini, written.config));
    ASSERT_TRUE(WriteAutoStart(ini, written.bAutoStart));
    StoredSettings read = ReadStoredSettings(ini);
    for (const SettingKey& key : SettingsTable())
        EXPECT_EQ(U8(ValueText(key, read)), U8(ValueText(key, written))) << U8(key.strKey);
    EXPECT_EQ(read.config.strPassword, written.config.strPassword);

    // Each writer writes its own keys and no others.
    const struct {
        const char* name;
        bool (*write)(const std::u16string&, const GuardConfig&);
        std::vector<SettingOwner> owners;
    } writers[] = {
        {"main window", WriteMainWindowSettings, {SettingOwner::MainWindow}},
        {"高级设置", WriteAdvancedSettings, {SettingOwner::Advanced}},
        {"whole record", WriteGuardConfig, {SettingOwner::MainWindow, SettingOwner::Advanced}},
    };
    for (const auto& w : writers) {
        SCOPED_TRACE(w.name);
        const std::u16string alone = dir.File(std::string("alone-") + w.name);
        ASSERT_TRUE(w.write(alone, written.config));
        std::vector<std::u16string> expected;
        for (const SettingKey& key : SettingsTable())
            if (std::find(w.owners.begin(), w.owners.end(), key.owner) != w.owners.end())
                expected.emplace_back(key.strKey);
        EXPECT_EQ(KeysIn(alone), expected);
    }
}

// A hand-edited number of 高级设置 is moved into its row's range; one that is no number reads
// as the default. The main window's LOOPSEC is taken as it is.
TEST_F(SettingsFile, HandEditedNumbersAreMovedIntoTheirRanges)
{
    const struct {
        const char* key;
        const char* stored;
        int32_t read;
    } cases[] = {
        {"BACKOFF_MAX_SEC", "abc", 300},
        {"BACKOFF_MAX_SEC", "-5", 1},
        {"BACKOFF_MAX_SEC", "0", 1},
        {"BACKOFF_MAX_SEC", "86401", 86400},
        {"BACKOFF_MAX_SEC", "99999999999", 86400},
        {"BACKOFF_MAX_SEC", "600", 600},
        {"BACKOFF_MAX_SEC", "\"45\"", 45},
        {"BACKOFF_MAX_SEC", "12abc", 12},
        {"BACKOFF_MAX_SEC", "", 300},
        {"MIN_UPTIME_SEC", "-5", 1},
        {"MIN_UPTIME_SEC", "abc", 10},
        {"MIN_UPTIME_SEC", "- 5", 10},
        {"MIN_UPTIME_SEC", "30", 30},
        {"PROBE_FILE_SEC", "0", 1},
        {"PROBE_FAILS", "abc", 3},
        {"PROBE_FAILS", "101", 100},
        {"PROBE_GRACE_SEC", "-1", 0},
        {"STOP_TIMEOUT_SEC", "601", 600},
        {"GW_LOGIN_SEC", "-3", 0},
        {"LOOPSEC", "-7", -7},
        {"LOOPSEC", "abc", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.stored);
        dir.Write(ini, std::string("[PX_SETTING]\r\n") + c.key + "=" + c.stored + "\r\n");
        StoredSettings read = ReadStoredSettings(ini);
        const SettingKey* key = FindSetting(px::FromUtf8(c.key));
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->field.number(read), c.read);
    }
    // Each checked number, one past either end.
    for (const SettingKey& key : SettingsTable()) {
        if (!key.range.bChecked)
            continue;
        for (const auto& [stored, read] :
            {std::pair{key.range.nLow - 1, key.range.nLow}, std::pair{key.range.nHigh + 1, key.range.nHigh}}) {
            dir.Write(ini, "[PX_SETTING]\r\n" + U8(key.strKey) + "=" + std::to_string(stored) + "\r\n");
            StoredSettings settings = ReadStoredSettings(ini);
            EXPECT_EQ(key.field.number(settings), read) << U8(key.strKey) << "=" << stored;
        }
    }
}

// A file of a Perennix from before 高级设置 reads as the defaults, and no save adds any of the
// new keys to it while they keep their defaults.
TEST_F(SettingsFile, AnOldFileReadsAsTheDefaultsAndASaveAddsNoneOfTheNewKeys)
{
    const std::string old = "[PX_SETTING]\r\nREB_TIME=06:00\r\nFULLPATH=/opt/app/run\r\nEXE_NAME=run\r\nARGS=-v\r\n"
                            "ARGSCRYPT=0\r\nLOOPSEC=30\r\nISTIMEDCLOSE=1\r\nAUTOSTART=1\r\n";
    dir.Write(ini, old);
    StoredSettings read = ReadStoredSettings(ini);
    StoredSettings defaults;
    for (const SettingKey& key : SettingsTable()) {
        if (key.owner == SettingOwner::Advanced || key.owner == SettingOwner::FileOnly) {
            EXPECT_EQ(U8(ValueText(key, read)), U8(ValueText(key, defaults))) << U8(key.strKey);
        }
    }
    EXPECT_EQ(read.config.nLoopSec, 30);

    for (bool (*write)(const std::u16string&, const GuardConfig&) :
        {WriteMainWindowSettings, WriteAdvancedSettings, WriteGuardConfig}) {
        ASSERT_TRUE(write(ini, read.config));
        EXPECT_EQ(dir.Read(ini), old);
    }
}

// Each writer reads the file once and replaces it once: the 高级设置 rows are one save.
TEST_F(SettingsFile, EachWriterIsOneReadAndOneReplacement)
{
    const GuardConfig changed = EveryKeyChanged().config;
    for (bool (*write)(const std::u16string&, const GuardConfig&) :
        {WriteMainWindowSettings, WriteAdvancedSettings, WriteGuardConfig}) {
        dir.files.reads = 0;
        dir.files.writes = 0;
        ASSERT_TRUE(write(ini, changed));
        EXPECT_EQ(dir.files.reads, 1);
        EXPECT_EQ(dir.files.writes, 1);
    }
}

}  // namespace
