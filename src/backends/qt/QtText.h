#pragma once
// UTF-16 text between the program and Qt: both hold UTF-16 code units, so the conversion is
// a copy that keeps every unit, lone surrogates included.

#include <QString>
#include <string>
#include <string_view>

namespace px::qt {

inline QString ToQString(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string FromQString(const QString& text) { return text.toStdU16String(); }

}  // namespace px::qt
