#include "settings/GuardConfig.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/AsciiCase.h"
#include "base/DecimalText.h"
#include "base/Paths.h"
#include "base/Trim.h"
#include "platform/Files.h"
#include "settings/ProfileFile.h"
#include "settings/Scramble.h"
#include "settings/SettingsTable.h"

namespace {

// A flag's or a number's default as the table holds it.
int32_t DefaultNumber(const SettingKey& key) { return px::WToI(key.strDefault); }

// A number of a checked range: moved into the range; a value that is no number at all (no
// digit after an optional sign) reads as the default, so "abc" never becomes 0 unseen.
int32_t ReadCheckedNumber(const px::ParsedProfile& profile, std::u16string_view section, const SettingKey& key)
{
    const int32_t fallback = DefaultNumber(key);
    const std::optional<std::u16string> found = profile.Find(section, key.strKey);
    if (!found)
        return fallback;
    std::u16string_view text = px::TrimBlanks(*found);
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') && text.back() == text.front())
        text = px::TrimBlanks(text.substr(1, text.size() - 2));
    if (!text.empty() && (text.front() == u'+' || text.front() == u'-'))
        text.remove_prefix(1);
    if (text.empty() || text.front() < u'0' || text.front() > u'9')
        return fallback;
    return std::clamp(profile.GetInt(section, key.strKey, fallback), key.range.nLow, key.range.nHigh);
}

void ReadKey(
    const px::ParsedProfile& profile, std::u16string_view section, const SettingKey& key, StoredSettings& stored)
{
    switch (key.type) {
    case SettingType::Flag:
        key.field.flag(stored) = profile.GetInt(section, key.strKey, DefaultNumber(key)) != 0;
        return;
    case SettingType::Number:
        key.field.number(stored) = key.range.bChecked ? ReadCheckedNumber(profile, section, key)
                                                      : profile.GetInt(section, key.strKey, DefaultNumber(key));
        return;
    case SettingType::Text:
        key.field.text(stored) = profile.GetString(section, key.strKey, key.strDefault);
        if (key.codec == SettingCodec::LowerCase)
            key.field.text(stored) = LowerImageName(key.field.text(stored));
        return;
    }
}

// ARGS as read is the stored text: unscrambled when ARGSCRYPT is set, split at exactly the
// password field's length whatever the first 60 characters hold.
void UnscrambleArgs(GuardConfig& config)
{
    if (!config.bArgsCrypt)
        return;
    const std::u16string args = std::move(config.strArgs);
    const size_t split = static_cast<size_t>(PASSWORD_FIELD_LENGTH);
    const std::optional<std::u16string> password = ReadScrambledText(args.substr(0, split));
    const std::optional<std::u16string> arguments
        = args.size() > split ? ReadScrambledText(args.substr(split)) : std::u16string();
    config.strPassword = password.value_or(std::u16string());
    config.strArgs = arguments.value_or(std::u16string());
    // Arguments that cannot be read whole (plain text, a field cut or damaged) are kept as
    // stored. A value without an arguments' field reads only as a password's field.
    const bool readable = args.size() > split ? arguments.has_value() : (args.empty() || password.has_value());
    if (!readable)
        config.strUnreadableArgs = args;
}

// Writes the keys of the owners given, in the table's order, in one replacement of the file:
// the main window's and AUTOSTART always, 高级设置's only where they differ from their default
// or the file has them already (a file that never had them keeps exactly the keys it had).
// A crash or a full disk never leaves, say, scrambled ARGS without ARGSCRYPT behind.
bool WriteKeys(const std::u16string& iniPath, StoredSettings stored, std::initializer_list<SettingOwner> owners)
{
    std::vector<std::pair<std::u16string, std::u16string>> always;
    std::vector<px::OptionalKey> optional;
    for (const SettingKey& key : SettingsTable()) {
        if (std::find(owners.begin(), owners.end(), key.owner) == owners.end())
            continue;
        switch (key.owner) {
        case SettingOwner::MainWindow:
        case SettingOwner::StartOnLaunch:
            always.emplace_back(key.strKey, StoredValue(key, stored));
            break;
        case SettingOwner::Advanced:
            optional.push_back({std::u16string(key.strKey), StoredValue(key, stored), std::u16string(key.strDefault)});
            break;
        case SettingOwner::FileOnly:
            break;
        }
    }
    return px::WriteProfileStrings(iniPath, SETTINGS_SECTION, always, optional);
}

}  // namespace

std::u16string IniPathForModule(const std::u16string& modulePath)
{
    return px::PathBesideModule(modulePath, u"config.ini");
}

std::u16string LowerImageName(std::u16string name) { return px::LowerAscii(std::move(name)); }

StoredSettings ReadStoredSettings(const std::u16string& iniPath)
{
    // One read of the file for every key.
    const px::ParsedProfile profile = px::LoadProfile(iniPath);
    StoredSettings stored;
    for (const SettingKey& key : SettingsTable())
        ReadKey(profile, SETTINGS_SECTION, key, stored);
    UnscrambleArgs(stored.config);
    return stored;
}

bool KeepsUnreadableArgs(const GuardConfig& config)
{
    return config.strUnreadableArgs && config.bArgsCrypt && config.strArgs.empty();
}

bool WriteGuardConfig(const std::u16string& iniPath, const GuardConfig& config)
{
    return WriteKeys(iniPath, {config, false}, {SettingOwner::MainWindow, SettingOwner::Advanced});
}

bool WriteMainWindowSettings(const std::u16string& iniPath, const GuardConfig& config)
{
    return WriteKeys(iniPath, {config, false}, {SettingOwner::MainWindow});
}

bool WriteAdvancedSettings(const std::u16string& iniPath, const GuardConfig& config)
{
    return WriteKeys(iniPath, {config, false}, {SettingOwner::Advanced});
}

bool WriteAutoStart(const std::u16string& iniPath, bool autoStart)
{
    StoredSettings stored;
    stored.bAutoStart = autoStart;
    return WriteKeys(iniPath, std::move(stored), {SettingOwner::StartOnLaunch});
}

bool IsImageName(const std::u16string& name)
{
    return !name.empty() && name.find(u'/') == std::u16string::npos
        && name.find(px::kPathSeparator) == std::u16string::npos;
}

bool CanOpenForReading(const std::u16string& path)
{
    // A NUL would end the path early for the system: the check would look at another file
    // than the launch then names.
    return path.find(u'\0') == std::u16string::npos && GetFiles().CanOpenFileForReading(path);
}
