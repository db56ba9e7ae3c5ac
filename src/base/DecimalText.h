#pragma once
// Decimal numbers in text, read and written the way the C runtime's _wtoi and _itow do,
// but without overflow: a number too large for 32 bits saturates.

#include <cstdint>
#include <string>
#include <string_view>

namespace px {

// Leading blanks skipped, an optional sign, then digits up to the first other character;
// 0 when there are none. Saturates at INT32_MIN / INT32_MAX.
int32_t WToI(std::u16string_view text);
// value in decimal, with a minus sign when negative.
std::u16string IToW(int32_t value);

}  // namespace px
