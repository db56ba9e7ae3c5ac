#include "base/DecimalText.h"

#include <limits>

namespace px {

int32_t WToI(std::u16string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate as a negative number so INT32_MIN itself is reachable.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 - (text[i] - u'0');
        if (value < kMin)
            value = kMin - 1;  // past the range: stays there, whatever digits follow
    }
    if (negative)
        return value < kMin ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(value);
    if (value < -static_cast<int64_t>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(-value);
}

std::u16string IToW(int32_t value)
{
    const std::string narrow = std::to_string(value);
    return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace px
