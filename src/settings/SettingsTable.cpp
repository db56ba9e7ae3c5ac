#include "settings/SettingsTable.h"

#include <vector>

#include "base/DecimalText.h"
#include "resources/Resource.h"
#include "settings/ProbeSettings.h"
#include "settings/Scramble.h"

namespace {

// The longest a number of seconds may be: a day.
constexpr int32_t kDaySec = 86400;

// A field of the record, as the table names it.
#define PX_FLAG(member)                                                                                                \
    SettingField                                                                                                       \
    {                                                                                                                  \
        .flag = [](StoredSettings& s) -> bool& { return s.member; }                                                    \
    }
#define PX_NUMBER(member)                                                                                              \
    SettingField                                                                                                       \
    {                                                                                                                  \
        .number = [](StoredSettings& s) -> int32_t& { return s.member; }                                               \
    }
#define PX_TEXT(member)                                                                                                \
    SettingField                                                                                                       \
    {                                                                                                                  \
        .text = [](StoredSettings& s) -> std::u16string& { return s.member; }                                          \
    }

constexpr NumberRange Range(int32_t low, int32_t high) { return {true, low, high}; }

bool IsTcpTarget(const std::u16string& text) { return text.empty() || ParseTcpTarget(text).has_value(); }

using enum SettingType;
using enum SettingOwner;
using enum TakesEffect;

const std::vector<SettingKey> kTable = {
    // The main window's fields, in the order a save writes them.
    {u"REB_TIME", Text, MainWindow, u"0", {}, {}, NextStartOfGuarding, PX_TEXT(config.strRebTime)},
    {u"FULLPATH", Text, MainWindow, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.strFullPath)},
    {u"EXE_NAME", Text, MainWindow, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.strExeName),
        SettingCodec::LowerCase},
    {u"ARGS", Text, MainWindow, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.strArgs), SettingCodec::ScrambledArgs},
    {u"ARGSCRYPT", Flag, MainWindow, u"0", {}, {}, NextStartOfGuarding, PX_FLAG(config.bArgsCrypt)},
    {u"LOOPSEC", Number, MainWindow, u"60", {}, {}, NextStartOfGuarding, PX_NUMBER(config.nLoopSec)},
    {u"ISTIMEDCLOSE", Flag, MainWindow, u"0", {}, {}, NextStartOfGuarding, PX_FLAG(config.bTimedClose)},
    {u"AUTOSTART", Flag, StartOnLaunch, u"0", {}, {}, NextLaunch, PX_FLAG(bAutoStart)},

    // 高级设置: what happens when the program dies.
    {u"BACKOFF", Flag, Advanced, u"1", {}, {IDC_BACKOFF, u"程序反复崩溃时逐次加倍等待后再重启"}, NextStartOfGuarding,
        PX_FLAG(config.bBackoff)},
    {u"BACKOFF_MAX_SEC", Number, Advanced, u"300", Range(1, kDaySec),
        {IDC_BACKOFFMAX, u"最长等待（秒）：", u"最长等待"}, NextStartOfGuarding, PX_NUMBER(config.nBackoffMaxSec)},
    {u"MIN_UPTIME_SEC", Number, Advanced, u"10", Range(1, kDaySec),
        {IDC_MINUPTIME, u"最短运行时间（秒）：", u"最短运行时间"}, NextStartOfGuarding,
        PX_NUMBER(config.nMinUptimeSec)},
    {u"NOTIFY", Flag, Advanced, u"1", {}, {IDC_NOTIFY, u"托盘通知"}, NextStartOfGuarding, PX_FLAG(config.bNotify)},
    {u"EVENT_CMD", Text, Advanced, u"", {}, {IDC_EVENTCMD, u"事件命令："}, NextStartOfGuarding,
        PX_TEXT(config.strEventCmd)},
    {u"METRICS_FILE", Text, Advanced, u"", {}, {IDC_METRICSFILE, u"指标文件："}, NextStartOfGuarding,
        PX_TEXT(config.strMetricsFile)},

    // 高级设置: the health probes and the stop's wait.
    {u"PROBE_TCP", Text, Advanced, u"", {},
        {IDC_PROBE_TCP, u"TCP 探测（端口或 IP:端口）：", {}, IsTcpTarget, kTcpTargetRefused}, NextStartOfGuarding,
        PX_TEXT(config.probes.strTcp)},
    {u"PROBE_WINDOW", Flag, Advanced, u"0", {}, {IDC_PROBE_WINDOW, u"窗口无响应时重启"}, NextStartOfGuarding,
        PX_FLAG(config.probes.bWindow)},
    {u"PROBE_FILE", Text, Advanced, u"", {}, {IDC_PROBE_FILE, u"心跳文件："}, NextStartOfGuarding,
        PX_TEXT(config.probes.strFile)},
    {u"PROBE_FILE_SEC", Number, Advanced, u"60", Range(kMinFileSec, kMaxFileSec),
        {IDC_PROBE_FILE_SEC, u"心跳最长间隔（秒）：", u"心跳最长间隔"}, NextStartOfGuarding,
        PX_NUMBER(config.probes.nFileSec)},
    {u"PROBE_FAILS", Number, Advanced, u"3", Range(kMinFails, kMaxFails),
        {IDC_PROBE_FAILS, u"连续失败几次后重启：", u"连续失败次数"}, NextStartOfGuarding,
        PX_NUMBER(config.probes.nFails)},
    {u"PROBE_GRACE_SEC", Number, Advanced, u"120", Range(0, kMaxGraceSec),
        {IDC_PROBE_GRACE_SEC, u"启动宽限期（秒）：", u"启动宽限期"}, NextStartOfGuarding,
        PX_NUMBER(config.probes.nGraceSec)},
    {u"STOP_TIMEOUT_SEC", Number, Advanced, u"0", Range(0, kMaxStopTimeoutSec),
        {IDC_STOP_TIMEOUT_SEC, u"关闭等待（秒，0 为立即结束）：", u"关闭等待时间"}, NextStartOfGuarding,
        PX_NUMBER(config.probes.nStopTimeoutSec)},

    // 高级设置: the gateway step.
    {u"GATEWAY", Flag, Advanced, u"0", {}, {IDC_GATEWAY, u"守护的程序是交易网关（处理其对话框）"}, NextStartOfGuarding,
        PX_FLAG(config.gateway.bGateway)},
    {u"MATCH_CMDLINE", Text, Advanced, u"", {}, {IDC_MATCH_CMDLINE, u"命令行须包含："}, NextStartOfGuarding,
        PX_TEXT(config.gateway.strMatchCmdline)},
    {u"GW_LOGIN_SEC", Number, Advanced, u"0", Range(0, kMaxLoginSec),
        {IDC_GW_LOGIN_SEC, u"登录超时（秒，0 为不检查）：", u"登录超时"}, NextStartOfGuarding,
        PX_NUMBER(config.gateway.nLoginSec)},

    // The gateway's title lists, as the user wrote them.
    {u"GW_CONFIRM", Text, FileOnly, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.gateway.strConfirm)},
    {u"GW_RESTART", Text, FileOnly, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.gateway.strRestart)},
    {u"GW_ALERT", Text, FileOnly, u"", {}, {}, NextStartOfGuarding, PX_TEXT(config.gateway.strAlert)},
    {u"GW_LOGIN_TITLE", Text, FileOnly, u"IBKR Gateway;IB Gateway", {}, {}, NextStartOfGuarding,
        PX_TEXT(config.gateway.strLoginTitle)},
};

#undef PX_FLAG
#undef PX_NUMBER
#undef PX_TEXT

// Digits only, at most nine of them: a number of seconds or checks as typed; none otherwise.
std::optional<int32_t> WholeNumber(std::u16string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (const char16_t c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return px::WToI(text);
}

// ARGS as stored: the unreadable value kept, or the password's field and then the arguments'
// field when scrambled, or the plain text.
std::u16string StoredArgs(const GuardConfig& config)
{
    if (KeepsUnreadableArgs(config))
        return *config.strUnreadableArgs;
    if (config.bArgsCrypt)
        return ScrambleText(config.strPassword, PASSWORD_FIELD_LENGTH) + ScrambleText(config.strArgs, 0);
    return config.strArgs;
}

}  // namespace

std::span<const SettingKey> SettingsTable() { return kTable; }

const SettingKey* FindSetting(std::u16string_view key)
{
    for (const SettingKey& entry : kTable)
        if (entry.strKey == key)
            return &entry;
    return nullptr;
}

std::u16string StoredValue(const SettingKey& key, StoredSettings& settings)
{
    switch (key.type) {
    case SettingType::Flag:
        return key.field.flag(settings) ? u"1" : u"0";
    case SettingType::Number:
        return px::IToW(key.field.number(settings));
    case SettingType::Text:
        break;
    }
    if (key.codec == SettingCodec::ScrambledArgs)
        return StoredArgs(settings.config);
    return key.field.text(settings);
}

std::u16string RangeRefusal(const SettingKey& key)
{
    return std::u16string(key.row.strRefusalName) + u"应为 " + px::IToW(key.range.nLow) + u" 到 "
        + px::IToW(key.range.nHigh) + u" 之间的整数！";
}

std::optional<std::u16string> RowRefusal(const SettingKey& key, const std::u16string& typed)
{
    if (key.type == SettingType::Number) {
        const std::optional<int32_t> value = WholeNumber(typed);
        if (value && *value >= key.range.nLow && *value <= key.range.nHigh)
            return std::nullopt;
        return RangeRefusal(key);
    }
    if (key.type == SettingType::Text && key.row.accepts && !key.row.accepts(typed))
        return std::u16string(key.row.strRefusal);
    return std::nullopt;
}

void TakeRowText(const SettingKey& key, const std::u16string& typed, StoredSettings& settings)
{
    if (key.type == SettingType::Number)
        key.field.number(settings) = px::WToI(typed);
    else if (key.type == SettingType::Text)
        key.field.text(settings) = typed;
}
