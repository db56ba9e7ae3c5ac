#pragma once
// Letter case as the program compares names: the 26 ASCII letters fold, nothing else does.

#include <string>
#include <string_view>

namespace px {

constexpr char16_t AsciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

inline std::u16string LowerAscii(std::u16string text)
{
    for (char16_t& c : text)
        c = AsciiLower(c);
    return text;
}

}  // namespace px
