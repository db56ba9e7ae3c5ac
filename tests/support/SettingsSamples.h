#pragma once
// Values other than the defaults for every key of the settings table, the same at every call:
// what a round trip through config.ini or through 高级设置 must bring back.

#include <string>

#include "base/DecimalText.h"
#include "settings/GuardConfig.h"
#include "settings/SettingsTable.h"

namespace testsupport {

// The text a row or the record takes for key: a flag the other way round, a number inside its
// range that is not the default, a text naming its key (an address for the TCP probe).
inline std::u16string ChangedValueText(const SettingKey& key)
{
    switch (key.type) {
    case SettingType::Flag:
        return key.strDefault == u"0" ? u"1" : u"0";
    case SettingType::Number:
        return key.range.bChecked ? px::IToW((key.range.nLow + key.range.nHigh) / 3) : u"17";
    case SettingType::Text:
        break;
    }
    if (key.row.accepts)
        return u"127.0.0.1:7497";
    // Lower case: the image name is lower-cased as it is read.
    return u"值 " + LowerImageName(std::u16string(key.strKey));
}

// Sets key's value in settings from its changed text.
inline void SetChangedValue(const SettingKey& key, StoredSettings& settings)
{
    const std::u16string text = ChangedValueText(key);
    switch (key.type) {
    case SettingType::Flag:
        key.field.flag(settings) = text == u"1";
        break;
    case SettingType::Number:
        key.field.number(settings) = px::WToI(text);
        break;
    case SettingType::Text:
        key.field.text(settings) = text;
        break;
    }
}

// Every key changed.
inline StoredSettings EveryKeyChanged()
{
    StoredSettings settings;
    for (const SettingKey& key : SettingsTable())
        SetChangedValue(key, settings);
    return settings;
}

// The value of key in settings as text, for comparing: ARGS plain (its stored form is
// scrambled afresh at each write).
inline std::u16string ValueText(const SettingKey& key, StoredSettings& settings)
{
    if (key.codec == SettingCodec::ScrambledArgs)
        return key.field.text(settings);
    return StoredValue(key, settings);
}

}  // namespace testsupport
