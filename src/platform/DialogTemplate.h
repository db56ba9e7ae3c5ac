#pragma once
// The dialog template format: controls, styles and sizes as a back end needs them to build a
// window. Positions and sizes are in dialog units. The program's own templates are data in
// resources/.

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

// Control styles (only those the templates use). Scoped, so no platform macro of the same
// name can reach them.
enum class ControlStyle : uint32_t {
    TabStop = 1u << 0,
    Group = 1u << 1,
    Left = 1u << 2,
    Right = 1u << 3,
    Border = 1u << 4,
    AutoHScroll = 1u << 5,
    NoPrefix = 1u << 6,
};

// Dialog styles.
enum class DialogStyle : uint32_t {
    Visible = 1u << 0,  // initially visible
    Caption = 1u << 1,
    SysMenu = 1u << 2,
    Sizing = 1u << 3,  // sizing border
    MinimizeBox = 1u << 4,
    ModalFrame = 1u << 5,
    AppWindow = 1u << 6,  // has a taskbar button
    FixedSys = 1u << 7,  // asks for the system fixed font beside the template's (a shell dialog font)
};

// A set of styles of one kind.
template <class Style> class StyleSet {
public:
    constexpr StyleSet() = default;
    constexpr StyleSet(Style style)  // NOLINT(google-explicit-constructor): a style is a set of one
        : m_bits(static_cast<uint32_t>(style))
    {
    }
    constexpr bool Has(Style style) const { return (m_bits & static_cast<uint32_t>(style)) != 0; }
    constexpr StyleSet operator|(StyleSet other) const { return FromBits(m_bits | other.m_bits); }

private:
    static constexpr StyleSet FromBits(uint32_t bits)
    {
        StyleSet set;
        set.m_bits = bits;
        return set;
    }
    uint32_t m_bits = 0;
};
constexpr StyleSet<ControlStyle> operator|(ControlStyle a, ControlStyle b) { return StyleSet<ControlStyle>(a) | b; }
constexpr StyleSet<DialogStyle> operator|(DialogStyle a, DialogStyle b) { return StyleSet<DialogStyle>(a) | b; }

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, cx, cy;
    StyleSet<ControlStyle> style;
    int iconId = 0;  // for ControlKind::Icon
};

struct DialogTemplate {
    int id;
    std::u16string_view title;
    int cx, cy;
    std::u16string_view fontFace;
    int fontPointSize;
    int fontWeight;
    StyleSet<DialogStyle> style;
    std::vector<ControlTemplate> controls;  // template order = tab order
};
