#include "resources/DialogTemplates.h"

#include "resources/Resource.h"

// The version comes from the build as narrow text; the texts here are UTF-16.
#define PX_UTF16_(text) u##text
#define PX_UTF16(text) PX_UTF16_(text)

namespace {

constexpr StyleSet<ControlStyle> kEditStyle = ControlStyle::Border | ControlStyle::TabStop | ControlStyle::AutoHScroll;

// 高级设置 is a column of rows, one setting each, with its buttons below the last row: a new
// setting is a row of controls at SettingsRowY(n) and one more in kSettingsRows.
constexpr int kSettingsRowHeight = 16;
constexpr int kSettingsRows = 18;
constexpr int SettingsRowY(int row) { return 10 + row * kSettingsRowHeight; }
constexpr int kSettingsButtonsY = SettingsRowY(kSettingsRows) + 6;

// A row of 高级设置 that names its value on the left and takes it in an edit on the right.
ControlTemplate SettingsRowLabel(int row, std::u16string_view text)
{
    return {IDC_STATIC, ControlKind::Label, text, 10, SettingsRowY(row) + 3, 110, 8,
        ControlStyle::Left | ControlStyle::Group};
}
ControlTemplate SettingsRowEdit(int row, int id)
{
    return {id, ControlKind::Edit, u"", 124, SettingsRowY(row), 86, 14, kEditStyle};
}

const std::vector<DialogTemplate>& Templates()
{
    static const std::vector<DialogTemplate> templates = {
        {IDD_MAIN, u"Perennix", 307, 249, u"Microsoft Sans Serif", 10, 400,
            DialogStyle::Visible | DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::Sizing
                | DialogStyle::MinimizeBox | DialogStyle::AppWindow,
            {
                {IDCANCEL, ControlKind::PushButton, u"关闭", 171, 202, 32, 14, ControlStyle::TabStop},
                {IDC_STATIC, ControlKind::Label, u"（秒）", 158, 104, 32, 8, ControlStyle::Left | ControlStyle::Group},
                {IDC_STATIC, ControlKind::Label, u"被守护进程名：", 19, 58, 60, 8,
                    ControlStyle::Right | ControlStyle::Group},
                {IDC_LOOPSEC, ControlKind::Edit, u"", 85, 101, 74, 14, kEditStyle},
                {IDC_STATIC, ControlKind::Label, u"循环检测时间间隔：", 8, 104, 71, 8,
                    ControlStyle::Right | ControlStyle::Group},
                {IDC_STATIC, ControlKind::GroupBox, u"设置", 4, 6, 293, 163, {}},
                {IDC_STATIC, ControlKind::Label, u"介绍：守护目标程序正常运行，若没有运行，则自动启动：", 18, 19, 206,
                    12, ControlStyle::Left | ControlStyle::Group},
                {IDC_START, ControlKind::PushButton, u"开始", 109, 178, 35, 14, ControlStyle::TabStop},
                {IDC_STATUS, ControlKind::Label, u"未启用", 74, 153, 147, 11, ControlStyle::Left | ControlStyle::Group},
                {IDC_HIDE, ControlKind::PushButton, u"隐藏", 108, 202, 36, 14, ControlStyle::TabStop},
                {IDC_STATUS_LABEL, ControlKind::Label, u"状态：", 36, 153, 23, 11,
                    ControlStyle::Right | ControlStyle::Group},
                {IDC_TIMEDCLOSE, ControlKind::AutoCheckBox, u"每日定时关闭重启：", 8, 124, 74, 10,
                    ControlStyle::TabStop},
                {IDC_AUTOSTART, ControlKind::AutoCheckBox, u"软件启动时自动开始", 8, 180, 84, 10,
                    ControlStyle::TabStop},
                {IDC_ARGS, ControlKind::Edit, u"", 85, 76, 135, 14, kEditStyle},
                {IDC_STATIC, ControlKind::Label, u"参数：", 55, 79, 24, 8, ControlStyle::Right | ControlStyle::Group},
                {IDC_ARGSCRYPT, ControlKind::AutoCheckBox, u"加密", 223, 79, 30, 10, ControlStyle::TabStop},
                {IDC_SAVE, ControlKind::PushButton, u"保存", 171, 178, 33, 14, ControlStyle::TabStop},
                {IDC_STATIC, ControlKind::Label, u"格式：HH:MM，多个以分号分隔。如12:30;06:00", 82, 137, 166, 8,
                    ControlStyle::Left | ControlStyle::Group},
                {IDC_REBTIME, ControlKind::Edit, u"", 85, 120, 125, 14, kEditStyle},
                {IDC_EXENAME, ControlKind::Edit, u"", 85, 55, 135, 14, kEditStyle},
                {IDC_STATIC, ControlKind::Label, u"执行程序文件路径：", 7, 39, 72, 8,
                    ControlStyle::Right | ControlStyle::Group},
                {IDC_FULLPATH, ControlKind::BrowseEdit, u"", 85, 35, 197, 14, kEditStyle},
            }},
        {IDD_PASSWD, u"密码", 222, 77, u"MS Shell Dlg", 8, 400,
            DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::ModalFrame | DialogStyle::FixedSys,
            {
                {IDOK, ControlKind::DefPushButton, u"确定", 72, 56, 50, 14, ControlStyle::TabStop},
                {IDCANCEL, ControlKind::PushButton, u"取消", 131, 56, 50, 14, ControlStyle::TabStop},
                {IDC_STATIC, ControlKind::Label, u"输入密码：", 18, 27, 41, 8,
                    ControlStyle::Left | ControlStyle::Group},
                {IDC_PASSWD, ControlKind::Edit, u"", 66, 24, 124, 14, kEditStyle},
                {IDC_PASSWD_PROMPT, ControlKind::Label, u"请设定密码保护：", 16, 5, 89, 8, ControlStyle::Left},
            }},
        {IDD_ABOUTBOX, u"关于 Perennix", 179, 99, u"MS Shell Dlg", 9, 400,
            DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::ModalFrame | DialogStyle::FixedSys,
            {
                {IDC_STATIC, ControlKind::Icon, u"", 14, 14, 21, 20, {}, IDR_MAINFRAME},
                {IDC_STATIC, ControlKind::Label, u"Perennix，" PX_UTF16(PERENNIX_VERSION_TEXT) u" 版", 42, 9, 114, 8,
                    ControlStyle::Left | ControlStyle::NoPrefix},
                {IDC_STATIC, ControlKind::Label, u"版权所有 (C) 2026 Perennix 项目", 42, 26, 114, 8,
                    ControlStyle::Left},
                {IDC_STATIC, ControlKind::Label, u"许可：保留所有权利", 43, 37, 90, 8, ControlStyle::Left},
                {IDC_STATIC, ControlKind::Label, u"源代码：项目仓库 src/", 43, 51, 84, 8, ControlStyle::Left},
                {IDC_ABOUT_FOLDER, ControlKind::Label, u"", 14, 65, 158, 8,
                    ControlStyle::Left | ControlStyle::NoPrefix},
                {IDOK, ControlKind::DefPushButton, u"确定", 89, 80, 50, 14,
                    ControlStyle::TabStop | ControlStyle::Group},
            }},
        {IDD_SETTINGS, u"高级设置", 220, kSettingsButtonsY + 22, u"MS Shell Dlg", 9, 400,
            DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::ModalFrame | DialogStyle::FixedSys,
            {
                {IDC_STARTATLOGIN, ControlKind::AutoCheckBox, u"登录时自动启动 Perennix", 10, SettingsRowY(0), 200, 10,
                    ControlStyle::TabStop | ControlStyle::Group},
                {IDC_BACKOFF, ControlKind::AutoCheckBox, u"程序反复崩溃时逐次加倍等待后再重启", 10, SettingsRowY(1),
                    200, 10, ControlStyle::TabStop | ControlStyle::Group},
                SettingsRowLabel(2, u"最长等待（秒）："),
                SettingsRowEdit(2, IDC_BACKOFFMAX),
                SettingsRowLabel(3, u"最短运行时间（秒）："),
                SettingsRowEdit(3, IDC_MINUPTIME),
                {IDC_NOTIFY, ControlKind::AutoCheckBox, u"托盘通知", 10, SettingsRowY(4), 200, 10,
                    ControlStyle::TabStop | ControlStyle::Group},
                SettingsRowLabel(5, u"事件命令："),
                SettingsRowEdit(5, IDC_EVENTCMD),
                SettingsRowLabel(6, u"指标文件："),
                SettingsRowEdit(6, IDC_METRICSFILE),
                // The health probes and the stop's wait: a label, then its edit or box.
                SettingsRowLabel(7, u"TCP 探测（端口或 IP:端口）："),
                SettingsRowEdit(7, IDC_PROBE_TCP),
                {IDC_PROBE_WINDOW, ControlKind::AutoCheckBox, u"窗口无响应时重启", 10, SettingsRowY(8) + 2, 200, 10,
                    ControlStyle::TabStop},
                SettingsRowLabel(9, u"心跳文件："),
                SettingsRowEdit(9, IDC_PROBE_FILE),
                SettingsRowLabel(10, u"心跳最长间隔（秒）："),
                SettingsRowEdit(10, IDC_PROBE_FILE_SEC),
                SettingsRowLabel(11, u"连续失败几次后重启："),
                SettingsRowEdit(11, IDC_PROBE_FAILS),
                SettingsRowLabel(12, u"启动宽限期（秒）："),
                SettingsRowEdit(12, IDC_PROBE_GRACE_SEC),
                SettingsRowLabel(13, u"关闭等待（秒，0 为立即结束）："),
                SettingsRowEdit(13, IDC_STOP_TIMEOUT_SEC),
                // The gateway step: for any image name, the command-line filter, the login watch.
                {IDC_GATEWAY, ControlKind::AutoCheckBox, u"守护的程序是交易网关（处理其对话框）", 10,
                    SettingsRowY(14) + 2, 200, 10, ControlStyle::TabStop},
                SettingsRowLabel(15, u"命令行须包含："),
                SettingsRowEdit(15, IDC_MATCH_CMDLINE),
                SettingsRowLabel(16, u"登录超时（秒，0 为不检查）："),
                SettingsRowEdit(16, IDC_GW_LOGIN_SEC),
                // Empty unless guarding runs.
                {IDC_SETTINGS_NOTE, ControlKind::Label, u"", 10, SettingsRowY(17) + 3, 200, 8,
                    ControlStyle::Left | ControlStyle::Group | ControlStyle::NoPrefix},
                {IDOK, ControlKind::DefPushButton, u"确定", 104, kSettingsButtonsY, 50, 14,
                    ControlStyle::TabStop | ControlStyle::Group},
                {IDCANCEL, ControlKind::PushButton, u"取消", 160, kSettingsButtonsY, 50, 14, ControlStyle::TabStop},
            }},
    };
    return templates;
}

}  // namespace

const std::vector<DialogTemplate>& AllDialogTemplates() { return Templates(); }

const DialogTemplate* FindDialogTemplate(int id)
{
    for (const DialogTemplate& t : Templates())
        if (t.id == id)
            return &t;
    return nullptr;
}

std::u16string_view ProgramVersion() { return PX_UTF16(PERENNIX_VERSION_TEXT); }

std::u16string_view LoadStringResource(int id)
{
    if (id == IDS_ABOUTBOX)
        return u"关于 Perennix(&A)...";
    if (id == IDS_SETTINGS)
        return u"高级设置(&S)...";
    return {};
}

std::u16string_view GetHostText(HostText text)
{
    switch (text) {
    case HostText::Ok:
        return u"确定";
    case HostText::Cancel:
        return u"取消";
    case HostText::OpenFileTitle:
        return u"打开";
    case HostText::BrowseButton:
        return u"...";
    }
    return {};
}
