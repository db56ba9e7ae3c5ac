#pragma once
// Blanks around a value the user typed.

#include <string_view>

namespace px {

// text without the spaces and tabs at its ends.
inline std::u16string_view TrimBlanks(std::u16string_view text)
{
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace px
