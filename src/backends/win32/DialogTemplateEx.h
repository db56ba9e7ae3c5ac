#pragma once
// A dialog of the template table as the in-memory extended dialog template (DLGTEMPLATEEX)
// that DialogBoxIndirectParamW builds a real Win32 dialog from: the same ids, texts,
// positions, styles, fonts and tab order on every platform.

#include <cstdint>
#include <vector>

#include "backends/win32/WinPrelude.h"
#include "resources/DialogTemplates.h"

namespace px::win32 {

// The window styles and extended styles of a dialog or one of its controls.
struct Win32Styles {
    DWORD style = 0;
    DWORD exStyle = 0;
};

Win32Styles DialogStyles(const DialogTemplate& tpl);
Win32Styles ControlStyles(const ControlTemplate& control);

// A browse edit is built as an edit followed by a push button with this id (its text the
// host text BrowseButton, "..."), which opens the file dialog for the edit.
int BrowseButtonId(int editId);
// The browse edit whose button has this id, or 0.
int EditOfBrowseButton(const DialogTemplate& tpl, int buttonId);

// The template in memory, DWORD-aligned, ready for DialogBoxIndirectParamW.
class DialogTemplateEx {
public:
    explicit DialogTemplateEx(const DialogTemplate& tpl);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void Word(uint16_t value) { m_words.push_back(value); }
    void Dword(uint32_t value);
    void Text(std::u16string_view text);
    void Ordinal(uint16_t value);
    void AlignToDword();
    void Item(const Win32Styles& styles, int x, int y, int cx, int cy, int id, uint16_t classAtom,
        std::u16string_view text, int iconId);

    std::vector<uint16_t> m_words;
};

}  // namespace px::win32
