#include "settings/GuardConfig.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/AsciiCase.h"
#include "base/DecimalText.h"
#include "base/Paths.h"
#include "platform/Files.h"
#include "settings/ProfileFile.h"
#include "settings/Scramble.h"

namespace {

constexpr char16_t KEY_FULLPATH[] = u"FULLPATH";
constexpr char16_t KEY_EXE_NAME[] = u"EXE_NAME";
constexpr char16_t KEY_REB_TIME[] = u"REB_TIME";
constexpr char16_t KEY_ARGS[] = u"ARGS";
constexpr char16_t KEY_ARGSCRYPT[] = u"ARGSCRYPT";
constexpr char16_t KEY_LOOPSEC[] = u"LOOPSEC";
constexpr char16_t KEY_ISTIMEDCLOSE[] = u"ISTIMEDCLOSE";
constexpr char16_t KEY_AUTOSTART[] = u"AUTOSTART";
constexpr char16_t KEY_PROBE_TCP[] = u"PROBE_TCP";
constexpr char16_t KEY_PROBE_WINDOW[] = u"PROBE_WINDOW";
constexpr char16_t KEY_PROBE_FILE[] = u"PROBE_FILE";
constexpr char16_t KEY_PROBE_FILE_SEC[] = u"PROBE_FILE_SEC";
constexpr char16_t KEY_PROBE_FAILS[] = u"PROBE_FAILS";
constexpr char16_t KEY_PROBE_GRACE_SEC[] = u"PROBE_GRACE_SEC";
constexpr char16_t KEY_STOP_TIMEOUT_SEC[] = u"STOP_TIMEOUT_SEC";

constexpr char16_t KEY_GATEWAY[] = u"GATEWAY";
constexpr char16_t KEY_MATCH_CMDLINE[] = u"MATCH_CMDLINE";
constexpr char16_t KEY_GW_CONFIRM[] = u"GW_CONFIRM";
constexpr char16_t KEY_GW_RESTART[] = u"GW_RESTART";
constexpr char16_t KEY_GW_ALERT[] = u"GW_ALERT";
constexpr char16_t KEY_GW_LOGIN_SEC[] = u"GW_LOGIN_SEC";
constexpr char16_t KEY_GW_LOGIN_TITLE[] = u"GW_LOGIN_TITLE";

constexpr char16_t KEY_BACKOFF[] = u"BACKOFF";
constexpr char16_t KEY_BACKOFF_MAX_SEC[] = u"BACKOFF_MAX_SEC";
constexpr char16_t KEY_MIN_UPTIME_SEC[] = u"MIN_UPTIME_SEC";
constexpr char16_t KEY_TRAY_NOTIFY[] = u"NOTIFY";
constexpr char16_t KEY_EVENT_CMD[] = u"EVENT_CMD";
constexpr char16_t KEY_METRICS_FILE[] = u"METRICS_FILE";

constexpr int32_t DEFAULT_LOOPSEC = 60;

std::u16string Flag(bool on) { return on ? u"1" : u"0"; }

ProbeSettings ReadProbeSettings(const px::ParsedProfile& profile, std::u16string_view section)
{
    const ProbeSettings defaults;
    ProbeSettings probes;
    probes.strTcp = profile.GetString(section, KEY_PROBE_TCP, u"");
    probes.bWindow = profile.GetInt(section, KEY_PROBE_WINDOW, 0) != 0;
    probes.strFile = profile.GetString(section, KEY_PROBE_FILE, u"");
    probes.nFileSec = profile.GetInt(section, KEY_PROBE_FILE_SEC, defaults.nFileSec);
    probes.nFails = profile.GetInt(section, KEY_PROBE_FAILS, defaults.nFails);
    probes.nGraceSec = profile.GetInt(section, KEY_PROBE_GRACE_SEC, defaults.nGraceSec);
    probes.nStopTimeoutSec = profile.GetInt(section, KEY_STOP_TIMEOUT_SEC, defaults.nStopTimeoutSec);
    // A hand-edited number out of range is moved into it rather than refused: guarding goes on.
    return ClampedProbeSettings(std::move(probes));
}

GatewaySettings ReadGatewaySettings(const px::ParsedProfile& profile, std::u16string_view section)
{
    const GatewaySettings defaults;
    GatewaySettings gateway;
    gateway.bGateway = profile.GetInt(section, KEY_GATEWAY, 0) != 0;
    gateway.strMatchCmdline = profile.GetString(section, KEY_MATCH_CMDLINE, u"");
    gateway.strConfirm = profile.GetString(section, KEY_GW_CONFIRM, u"");
    gateway.strRestart = profile.GetString(section, KEY_GW_RESTART, u"");
    gateway.strAlert = profile.GetString(section, KEY_GW_ALERT, u"");
    gateway.nLoginSec = std::clamp(profile.GetInt(section, KEY_GW_LOGIN_SEC, 0), 0, kMaxLoginSec);
    gateway.strLoginTitle = profile.GetString(section, KEY_GW_LOGIN_TITLE, defaults.strLoginTitle);
    return gateway;
}

// The probe keys and the gateway's, each written only once it differs from its default or
// the file has it.
std::vector<px::OptionalKey> OptionalKeys(const ProbeSettings& probes, const GatewaySettings& gateway)
{
    const ProbeSettings defaults;
    const GatewaySettings gatewayDefaults;
    return {
        {KEY_PROBE_TCP, probes.strTcp, defaults.strTcp},
        {KEY_PROBE_WINDOW, Flag(probes.bWindow), Flag(defaults.bWindow)},
        {KEY_PROBE_FILE, probes.strFile, defaults.strFile},
        {KEY_PROBE_FILE_SEC, px::IToW(probes.nFileSec), px::IToW(defaults.nFileSec)},
        {KEY_PROBE_FAILS, px::IToW(probes.nFails), px::IToW(defaults.nFails)},
        {KEY_PROBE_GRACE_SEC, px::IToW(probes.nGraceSec), px::IToW(defaults.nGraceSec)},
        {KEY_STOP_TIMEOUT_SEC, px::IToW(probes.nStopTimeoutSec), px::IToW(defaults.nStopTimeoutSec)},
        {KEY_GATEWAY, Flag(gateway.bGateway), Flag(gatewayDefaults.bGateway)},
        {KEY_MATCH_CMDLINE, gateway.strMatchCmdline, gatewayDefaults.strMatchCmdline},
        {KEY_GW_LOGIN_SEC, px::IToW(gateway.nLoginSec), px::IToW(gatewayDefaults.nLoginSec)},
    };
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
    const std::u16string_view section = SETTINGS_SECTION;
    StoredSettings stored;
    GuardConfig& config = stored.config;
    config.strFullPath = profile.GetString(section, KEY_FULLPATH, u"");
    config.strExeName = LowerImageName(profile.GetString(section, KEY_EXE_NAME, u""));
    config.strRebTime = profile.GetString(section, KEY_REB_TIME, u"0");
    config.bArgsCrypt = profile.GetInt(section, KEY_ARGSCRYPT, 0) != 0;

    const std::u16string args = profile.GetString(section, KEY_ARGS, u"");
    if (config.bArgsCrypt) {
        // The password field is exactly the first 60 characters, whatever they hold.
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
    } else {
        config.strArgs = args;
        config.strPassword.clear();
    }
    config.nLoopSec = profile.GetInt(section, KEY_LOOPSEC, DEFAULT_LOOPSEC);
    config.bTimedClose = profile.GetInt(section, KEY_ISTIMEDCLOSE, 0) != 0;
    stored.bAutoStart = profile.GetInt(section, KEY_AUTOSTART, 0) != 0;
    config.probes = ReadProbeSettings(profile, section);
    config.gateway = ReadGatewaySettings(profile, section);

    const GuardConfig defaults;
    config.bBackoff = profile.GetInt(section, KEY_BACKOFF, defaults.bBackoff ? 1 : 0) != 0;
    config.nBackoffMaxSec = profile.GetInt(section, KEY_BACKOFF_MAX_SEC, defaults.nBackoffMaxSec);
    config.nMinUptimeSec = profile.GetInt(section, KEY_MIN_UPTIME_SEC, defaults.nMinUptimeSec);
    config.bNotify = profile.GetInt(section, KEY_TRAY_NOTIFY, defaults.bNotify ? 1 : 0) != 0;
    config.strEventCmd = profile.GetString(section, KEY_EVENT_CMD, u"");
    config.strMetricsFile = profile.GetString(section, KEY_METRICS_FILE, u"");
    return stored;
}

bool KeepsUnreadableArgs(const GuardConfig& config)
{
    return config.strUnreadableArgs && config.bArgsCrypt && config.strArgs.empty();
}

bool WriteGuardConfig(const std::u16string& iniPath, const GuardConfig& config)
{
    const std::u16string section = SETTINGS_SECTION;
    std::u16string args;
    if (KeepsUnreadableArgs(config)) {
        args = *config.strUnreadableArgs;
    } else if (config.bArgsCrypt) {
        // The password field first, then the arguments field right after it.
        args = ScrambleText(config.strPassword, PASSWORD_FIELD_LENGTH);
        args += ScrambleText(config.strArgs, 0);
    } else {
        args = config.strArgs;
    }

    // One replacement of the file: a crash or a full disk never leaves, say, scrambled ARGS
    // without ARGSCRYPT behind.
    return px::WriteProfileStrings(iniPath, section,
        {
            {KEY_REB_TIME, config.strRebTime},
            {KEY_FULLPATH, config.strFullPath},
            {KEY_EXE_NAME, config.strExeName},
            {KEY_ARGS, args},
            {KEY_ARGSCRYPT, Flag(config.bArgsCrypt)},
            {KEY_LOOPSEC, px::IToW(config.nLoopSec)},
            {KEY_ISTIMEDCLOSE, Flag(config.bTimedClose)},
        },
        OptionalKeys(config.probes, config.gateway));
}

bool WriteAlertSettings(const std::u16string& iniPath, const GuardConfig& config)
{
    return px::WriteProfileStrings(iniPath, SETTINGS_SECTION,
        {
            {KEY_BACKOFF, Flag(config.bBackoff)},
            {KEY_BACKOFF_MAX_SEC, px::IToW(config.nBackoffMaxSec)},
            {KEY_MIN_UPTIME_SEC, px::IToW(config.nMinUptimeSec)},
            {KEY_TRAY_NOTIFY, Flag(config.bNotify)},
            {KEY_EVENT_CMD, config.strEventCmd},
            {KEY_METRICS_FILE, config.strMetricsFile},
        });
}

bool WriteAutoStart(const std::u16string& iniPath, bool autoStart)
{
    return px::WriteProfileString(iniPath, SETTINGS_SECTION, KEY_AUTOSTART, Flag(autoStart));
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
