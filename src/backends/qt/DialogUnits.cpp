#include "backends/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>
#include <cstdint>

#include "backends/qt/QtText.h"

namespace px::qt {

BaseUnits DialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters
        = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -static_cast<int64_t>(c) : c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapTemplateRect(int x, int y, int cx, int cy, BaseUnits base)
{
    return QRect(MulDiv(x, base.cx, 4), MulDiv(y, base.cy, 8), MulDiv(cx, base.cx, 4), MulDiv(cy, base.cy, 8));
}

QSize MapDialogSize(int cx, int cy, BaseUnits base) { return QSize(MulDiv(cx, base.cx, 4), MulDiv(cy, base.cy, 8)); }

QStringList ChineseUiFamilies()
{
    QStringList families;
    families << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("Source Han Sans SC")
             << QStringLiteral("WenQuanYi Micro Hei") << QStringLiteral("WenQuanYi Zen Hei");
    return families;
}

QFont TemplateFont(const DialogTemplate& tpl)
{
    QFont font;
    // The named face where it exists; elsewhere a Chinese UI font, which has Latin letters too:
    // one font for all the dialog's text, as on a Chinese Windows, and no fallback to look for.
    font.setFamilies(QStringList(ToQString(tpl.fontFace)) + ChineseUiFamilies());
    font.setPointSize(tpl.fontPointSize);
    font.setWeight(static_cast<QFont::Weight>(tpl.fontWeight));
    return font;
}

}  // namespace px::qt
