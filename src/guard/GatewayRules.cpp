#include "guard/GatewayRules.h"

#include <array>
#include <string_view>

#include "base/DecimalText.h"
#include "base/Trim.h"

namespace {

constexpr char16_t kGatewayImage[] = u"ibgateway.exe";
constexpr std::array<const char16_t*, 4> kDefaultConfirmTitles
    = {u"Warning", u"警告", u"Re-login is required", u"要求重新登录"};

bool HasControlCharacter(std::u16string_view text)
{
    for (const char16_t c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

// The entry as the log may show it: control characters as "?", cut to 40 units.
std::u16string Shown(std::u16string_view text)
{
    std::u16string shown(text.substr(0, 40));
    for (char16_t& c : shown)
        if (c < 0x20 || c == 0x7F)
            c = u'?';
    if (text.size() > 40)
        shown += u"…";
    return shown;
}

bool InTable(const std::vector<std::u16string>& titles, std::u16string_view title)
{
    for (const std::u16string& t : titles)
        if (t == title)
            return true;
    return false;
}

// Takes the entries of one list into titles; what it leaves out goes to ignored, named by key.
void ReadTitleList(const char16_t* key, const std::u16string& list, std::vector<std::u16string>& titles,
    std::vector<std::u16string>& ignored)
{
    if (list.empty())
        return;
    size_t taken = 0;
    size_t empty = 0;
    size_t overflow = 0;
    std::u16string_view rest = list;
    for (;;) {
        const size_t semicolon = rest.find(u';');
        const std::u16string_view entry = px::TrimBlanks(rest.substr(0, semicolon));
        if (entry.empty()) {
            ++empty;
        } else if (taken >= kMaxTitlesPerList) {
            ++overflow;
        } else if (HasControlCharacter(entry)) {
            ignored.push_back(std::u16string(key) + u"：含控制字符，已忽略：" + Shown(entry));
        } else if (entry.size() > kMaxTitleLength) {
            ignored.push_back(std::u16string(key) + u"：标题过长，已忽略：" + Shown(entry));
        } else if (InTable(titles, entry)) {
            ignored.push_back(std::u16string(key) + u"：标题重复，已忽略：" + Shown(entry));
        } else {
            titles.emplace_back(entry);
            ++taken;
        }
        if (semicolon == std::u16string_view::npos)
            break;
        rest.remove_prefix(semicolon + 1);
    }
    if (empty > 0)
        ignored.push_back(std::u16string(key) + u"：已忽略空条目 " + px::IToW(static_cast<int32_t>(empty)) + u" 个");
    if (overflow > 0)
        ignored.push_back(std::u16string(key) + u"：最多 " + px::IToW(static_cast<int32_t>(kMaxTitlesPerList))
            + u" 个标题，其余 " + px::IToW(static_cast<int32_t>(overflow)) + u" 个已忽略");
}

}  // namespace

GatewayRules BuildGatewayRules(const GatewaySettings& settings)
{
    GatewayRules table;
    std::vector<std::u16string> titles(kDefaultConfirmTitles.begin(), kDefaultConfirmTitles.end());
    const struct {
        const char16_t* key;
        const std::u16string& list;
        GatewayAction action;
    } lists[] = {
        {u"GW_CONFIRM", settings.strConfirm, GatewayAction::Confirm},
        {u"GW_RESTART", settings.strRestart, GatewayAction::Restart},
        {u"GW_ALERT", settings.strAlert, GatewayAction::Alert},
    };
    std::vector<GatewayAction> actions(titles.size(), GatewayAction::Confirm);
    for (const auto& list : lists) {
        ReadTitleList(list.key, list.list, titles, table.ignored);
        actions.resize(titles.size(), list.action);
    }
    for (size_t i = 0; i < titles.size(); ++i)
        table.rules.push_back({titles[i], actions[i]});
    ReadTitleList(u"GW_LOGIN_TITLE", settings.strLoginTitle, table.loginTitles, table.ignored);
    return table;
}

bool IsGatewayProgram(const GuardConfig& config)
{
    return config.strExeName == kGatewayImage || config.gateway.bGateway;
}
