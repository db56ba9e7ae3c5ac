#pragma once
// The system's ANSI code page on Windows, through MultiByteToWideChar and WideCharToMultiByte.

#include "platform/Files.h"

// The system's ANSI code page (CP_ACP) through the conversion functions themselves.
class Win32AnsiCodePage : public AnsiCodePage {
public:
    bool IsLeadByte(unsigned char byte) const override;
    std::u16string Decode(std::string_view bytes, size_t* invalid) const override;
    std::optional<std::string> Encode(std::u16string_view text) const override;
};
