#pragma once
// Every key of config.ini's [PX_SETTING] section in one table: its type, default and range,
// who shows and writes it, its row in 高级设置, the name a refused value is given, when a
// change takes effect, and where the value lives in the record. The reader, the writers, the
// rows of 高级设置 and their checks all go through it; a new setting is one more entry.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/GuardConfig.h"

enum class SettingType {
    Flag,  // "1" or "0"; any whole number other than 0 reads as on
    Number,  // a whole number
    Text,
};

// Who shows a key and writes it.
enum class SettingOwner {
    MainWindow,  // a field of the main window, written on "保存" and "开始", always
    StartOnLaunch,  // AUTOSTART: the main window's box, written alone when it is clicked
    Advanced,  // a row of 高级设置, written on its "确定" once it differs from its default or the file has it
    FileOnly,  // typed into config.ini by hand; read, never written
};

// When a changed value is used.
enum class TakesEffect {
    NextStartOfGuarding,  // guarding keeps the values it started with
    NextLaunch,  // read when Perennix starts
};

// How a text is kept in the record beyond being itself.
enum class SettingCodec {
    Plain,
    LowerCase,  // EXE_NAME: lower-cased as it is read
    ScrambledArgs,  // ARGS: scrambled with its password while ARGSCRYPT is set
};

// A number's range. A row refuses a value outside it; a value read from the file is moved
// into it (and one that is no number at all reads as the default).
struct NumberRange {
    bool bChecked = false;  // false: any number, taken as it is (LOOPSEC)
    int32_t nLow = 0;
    int32_t nHigh = 0;
};

// The row of 高级设置 that shows a key.
struct SettingRow {
    int nControlId = 0;  // 0: no row
    std::u16string_view strLabel = {};  // the row's label, or its check box's text
    std::u16string_view strRefusalName = {};  // a number's name in "<name>应为 <low> 到 <high> 之间的整数！"
    // A text row's check, with what the user is told when it refuses the text.
    bool (*accepts)(const std::u16string& text) = nullptr;
    std::u16string_view strRefusal = {};
};

// Where a key's value lives: one of the three, by the key's type.
struct SettingField {
    bool& (*flag)(StoredSettings&) = nullptr;
    int32_t& (*number)(StoredSettings&) = nullptr;
    std::u16string& (*text)(StoredSettings&) = nullptr;
};

struct SettingKey {
    std::u16string_view strKey = {};
    SettingType type = SettingType::Text;
    SettingOwner owner = SettingOwner::FileOnly;
    std::u16string_view strDefault = {};  // as config.ini holds it
    NumberRange range;
    SettingRow row;
    TakesEffect effect = TakesEffect::NextStartOfGuarding;
    SettingField field;
    SettingCodec codec = SettingCodec::Plain;
};

// Every key, the main window's first in the order they are written.
std::span<const SettingKey> SettingsTable();
// The entry of key; none for a key the program does not know.
const SettingKey* FindSetting(std::u16string_view key);

// The value as config.ini holds it: a flag "1" or "0", a number in decimal, a text as it is
// (ARGS scrambled while ARGSCRYPT is set, or the unreadable ARGS as stored while kept).
std::u16string StoredValue(const SettingKey& key, StoredSettings& settings);

// "<name>应为 <low> 到 <high> 之间的整数！": what a refused number of a row is told.
std::u16string RangeRefusal(const SettingKey& key);
// A text typed into a row of a number or a text: what the user is told when the row refuses
// it; none when the row takes it. A number is digits alone (at most nine) within its range.
std::optional<std::u16string> RowRefusal(const SettingKey& key, const std::u16string& typed);
// Takes a text the row accepts (RowRefusal gives none) into settings.
void TakeRowText(const SettingKey& key, const std::u16string& typed, StoredSettings& settings);
