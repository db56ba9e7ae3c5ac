#pragma once
// Dialog units to pixels, the way the Win32 dialog manager converts a template: the base
// units are the dialog font's average character width and its character height; x and
// widths are in quarters of the former, y and heights in eighths of the latter.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

#include "resources/DialogTemplates.h"

namespace px::qt {

struct BaseUnits {
    int cx = 0;  // average character width in pixels
    int cy = 0;  // character height in pixels
};

// The base units of font: the width of the 52 Latin letters divided by 26, plus one, halved
// (the dialog manager's rounded average), and the font's height.
BaseUnits DialogBaseUnits(const QFont& font);

// a * b / c rounded to the nearest integer, halves away from zero (the Win32 MulDiv).
int MulDiv(int a, int b, int c);

// A control's rectangle: position and size each converted on their own, as the dialog
// manager does when it creates a template's controls.
QRect MapTemplateRect(int x, int y, int cx, int cy, BaseUnits base);
QSize MapDialogSize(int cx, int cy, BaseUnits base);

// Chinese UI font families, best first; a font's family list falls back along them.
QStringList ChineseUiFamilies();

// The font a template names, at its point size and weight; where the named face is missing, a
// Chinese UI font the system has.
QFont TemplateFont(const DialogTemplate& tpl);

}  // namespace px::qt
