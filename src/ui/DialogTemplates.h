#pragma once
// The three dialog templates as data: every back end builds its windows from this table,
// so the layout exists once. Positions and sizes are in dialog units.

#include <cstdint>
#include <string_view>
#include <vector>

enum class ControlKind {
    PushButton,
    DefPushButton,  // the dialog's default button
    Label,
    GroupBox,
    Edit,
    BrowseEdit,  // an edit with a browse button that opens the file dialog
    AutoCheckBox,
    Icon,  // a static picture of the icon named by iconId
};

// Control styles (only those the templates use).
enum ControlStyle : uint32_t {
    CS_TABSTOP = 1u << 0,
    CS_GROUP = 1u << 1,
    CS_LEFT = 1u << 2,
    CS_RIGHT = 1u << 3,
    CS_BORDER = 1u << 4,
    CS_AUTOHSCROLL = 1u << 5,
    CS_NOPREFIX = 1u << 6,
};

// Dialog styles.
enum DialogStyle : uint32_t {
    DS_VISIBLE = 1u << 0,  // initially visible
    DS_CAPTION = 1u << 1,
    DS_SYSMENU = 1u << 2,
    DS_SIZING = 1u << 3,  // sizing border
    DS_MINIMIZEBOX = 1u << 4,
    DS_MODALFRAME = 1u << 5,
    DS_APPWINDOW = 1u << 6,  // has a taskbar button
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, cx, cy;
    uint32_t style;
    int iconId = 0;  // for ControlKind::Icon
};

struct DialogTemplate {
    int id;
    std::u16string_view title;
    int cx, cy;
    std::u16string_view fontFace;
    int fontPointSize;
    int fontWeight;
    uint32_t style;
    std::vector<ControlTemplate> controls;  // template order = tab order
};

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// All templates (IDD_MAIN, IDD_PASSWD, IDD_ABOUTBOX).
const std::vector<DialogTemplate>& AllDialogTemplates();
// String resources (IDS_ABOUTBOX); empty when there is none.
std::u16string_view LoadStringResource(int id);
