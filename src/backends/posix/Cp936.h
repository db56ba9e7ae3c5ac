#pragma once
// Code page 936 (GBK) converted the way Windows converts it, for the file service on Linux.

#include "platform/Files.h"

class Cp936CodePage : public AnsiCodePage {
public:
    bool IsLeadByte(unsigned char byte) const override { return byte >= 0x81 && byte <= 0xFE; }
    // A lead byte and the byte after it (unless NUL) are one character; one that names no
    // character (its second byte below 0x40, 0x7F or 0xFF), or a lead byte alone, is '?'.
    std::u16string Decode(std::string_view bytes, size_t* invalid) const override;
    std::optional<std::string> Encode(std::u16string_view text) const override;
};
