#include "backends/win32/DialogTemplateEx.h"

namespace px::win32 {

namespace {

// The predefined window classes of dialog controls, as template ordinals.
constexpr uint16_t kButtonClass = 0x0080;
constexpr uint16_t kEditClass = 0x0081;
constexpr uint16_t kStaticClass = 0x0082;

constexpr int kBrowseButtonIdBase = 0x4000;

uint16_t ClassOf(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Edit:
    case ControlKind::BrowseEdit:
        return kEditClass;
    case ControlKind::Label:
    case ControlKind::Icon:
        return kStaticClass;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::GroupBox:
    case ControlKind::AutoCheckBox:
        break;
    }
    return kButtonClass;
}

}  // namespace

Win32Styles DialogStyles(const DialogTemplate& tpl)
{
    Win32Styles s;
    s.style = WS_POPUP | DS_SETFONT;
    const StyleSet<DialogStyle> style = tpl.style;
    if (style.Has(DialogStyle::Visible))
        s.style |= WS_VISIBLE;
    if (style.Has(DialogStyle::Caption))
        s.style |= WS_CAPTION;
    if (style.Has(DialogStyle::SysMenu))
        s.style |= WS_SYSMENU;
    if (style.Has(DialogStyle::Sizing))
        s.style |= WS_THICKFRAME;
    if (style.Has(DialogStyle::MinimizeBox))
        s.style |= WS_MINIMIZEBOX;
    if (style.Has(DialogStyle::ModalFrame))
        s.style |= DS_MODALFRAME;
    if (style.Has(DialogStyle::FixedSys))
        s.style |= DS_FIXEDSYS;
    if (style.Has(DialogStyle::AppWindow))
        s.exStyle |= WS_EX_APPWINDOW;
    return s;
}

Win32Styles ControlStyles(const ControlTemplate& c)
{
    Win32Styles s;
    s.style = WS_CHILD | WS_VISIBLE;
    if (c.style.Has(ControlStyle::TabStop))
        s.style |= WS_TABSTOP;
    if (c.style.Has(ControlStyle::Group))
        s.style |= WS_GROUP;
    if (c.style.Has(ControlStyle::Border))
        s.style |= WS_BORDER;
    switch (c.kind) {
    case ControlKind::PushButton:
        s.style |= BS_PUSHBUTTON;
        break;
    case ControlKind::DefPushButton:
        s.style |= BS_DEFPUSHBUTTON;
        break;
    case ControlKind::AutoCheckBox:
        s.style |= BS_AUTOCHECKBOX;
        break;
    case ControlKind::GroupBox:
        s.style |= BS_GROUPBOX;
        break;
    case ControlKind::Label:
        s.style |= c.style.Has(ControlStyle::Right) ? SS_RIGHT : SS_LEFT;
        if (c.style.Has(ControlStyle::NoPrefix))
            s.style |= SS_NOPREFIX;
        break;
    case ControlKind::Icon:
        s.style |= SS_ICON;
        break;
    case ControlKind::Edit:
    case ControlKind::BrowseEdit:
        s.style |= ES_LEFT;
        if (c.style.Has(ControlStyle::AutoHScroll))
            s.style |= ES_AUTOHSCROLL;
        break;
    }
    return s;
}

int BrowseButtonId(int editId) { return kBrowseButtonIdBase + editId; }

int EditOfBrowseButton(const DialogTemplate& tpl, int buttonId)
{
    for (const ControlTemplate& c : tpl.controls) {
        if (c.kind == ControlKind::BrowseEdit && BrowseButtonId(c.id) == buttonId)
            return c.id;
    }
    return 0;
}

DialogTemplateEx::DialogTemplateEx(const DialogTemplate& tpl)
{
    size_t items = tpl.controls.size();
    for (const ControlTemplate& c : tpl.controls)
        items += c.kind == ControlKind::BrowseEdit ? 1 : 0;

    const Win32Styles styles = DialogStyles(tpl);
    Word(1);  // dlgVer
    Word(0xFFFF);  // signature: the extended form
    Dword(0);  // helpID
    Dword(styles.exStyle);
    Dword(styles.style);
    Word(static_cast<uint16_t>(items));
    Word(0);  // x and y: the host places the window
    Word(0);
    Word(static_cast<uint16_t>(tpl.cx));
    Word(static_cast<uint16_t>(tpl.cy));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(tpl.title);
    Word(static_cast<uint16_t>(tpl.fontPointSize));
    Word(static_cast<uint16_t>(tpl.fontWeight));
    Word(DEFAULT_CHARSET << 8);  // italic FALSE, then the character set
    Text(tpl.fontFace);

    for (const ControlTemplate& c : tpl.controls) {
        if (c.kind != ControlKind::BrowseEdit) {
            Item(ControlStyles(c), c.x, c.y, c.cx, c.cy, c.id, ClassOf(c.kind), c.text, c.iconId);
            continue;
        }
        // The edit, and its browse button at the right end of the control's rectangle.
        const int button = c.cy < c.cx / 2 ? c.cy : c.cx / 2;
        Item(ControlStyles(c), c.x, c.y, c.cx - button, c.cy, c.id, kEditClass, c.text, 0);
        Item({WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0}, c.x + c.cx - button, c.y, button, c.cy, BrowseButtonId(c.id),
            kButtonClass, GetHostText(HostText::BrowseButton), 0);
    }
}

void DialogTemplateEx::Dword(uint32_t value)
{
    Word(static_cast<uint16_t>(value & 0xFFFF));
    Word(static_cast<uint16_t>(value >> 16));
}

void DialogTemplateEx::Text(std::u16string_view text)
{
    for (char16_t unit : text)
        Word(static_cast<uint16_t>(unit));
    Word(0);
}

void DialogTemplateEx::Ordinal(uint16_t value)
{
    Word(0xFFFF);
    Word(value);
}

void DialogTemplateEx::AlignToDword()
{
    if (m_words.size() % 2 != 0)
        Word(0);
}

void DialogTemplateEx::Item(const Win32Styles& styles, int x, int y, int cx, int cy, int id, uint16_t classAtom,
    std::u16string_view text, int iconId)
{
    AlignToDword();
    Dword(0);  // helpID
    Dword(styles.exStyle);
    Dword(styles.style);
    Word(static_cast<uint16_t>(x));
    Word(static_cast<uint16_t>(y));
    Word(static_cast<uint16_t>(cx));
    Word(static_cast<uint16_t>(cy));
    Dword(static_cast<uint32_t>(id));
    Ordinal(classAtom);
    if (iconId != 0)
        Ordinal(static_cast<uint16_t>(iconId));  // a picture control names its icon resource
    else
        Text(text);
    Word(0);  // no creation data
}

}  // namespace px::win32
