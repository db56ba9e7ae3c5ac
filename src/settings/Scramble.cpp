#include "settings/Scramble.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string_view>

#include "base/DecimalText.h"

namespace {

constexpr char16_t SHIFT = 4;
constexpr char16_t TERMINATOR = u'@';
constexpr size_t OFFSET_POSITION = 1;  // two digits, 15 to 24
constexpr size_t LENGTH_POSITION = 5;  // the text's length in decimal, then the terminator

uint32_t SecondsNow() { return static_cast<uint32_t>(std::time(nullptr)); }

// A uniform draw from 0 to k - 1 with the C library's generator: draws from the top of its
// range that would favour small values are thrown away and drawn again. Where k exceeds that
// range (rand() reaches only 32767 on Windows, so a field of more than 32768 characters), each
// draw combines as many calls as it takes: the single draw could never be accepted there.
int DrawBelow(int k)
{
    constexpr int64_t kBase = int64_t{RAND_MAX} + 1;
    int64_t top = RAND_MAX;
    int calls = 1;
    while (top < k - 1) {
        top = top * kBase + RAND_MAX;
        ++calls;
    }
    for (;;) {
        int64_t r = 0;
        for (int i = 0; i < calls; ++i)
            r = r * kBase + std::rand();
        if (r / k < top / k || top % k == k - 1)
            return static_cast<int>(r % k);
    }
}

std::u16string Decimal(size_t value)
{
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace

std::u16string MakeFillerSeeded(int length, uint32_t seed)
{
    if (length <= 0)
        return {};
    std::u16string s = FILLER_ALPHABET;
    while (s.size() < static_cast<size_t>(length))
        s += s;
    std::srand(seed);
    for (size_t k = 2; k <= s.size(); ++k)
        std::swap(s[k - 1], s[static_cast<size_t>(DrawBelow(static_cast<int>(k)))]);
    s.resize(static_cast<size_t>(length));
    return s;
}

std::u16string ScrambleTextSeeded(const std::u16string& text, int length, uint32_t seed)
{
    if (length <= 0) {
        // 2n + 25, held to what a field length can be.
        const uint64_t wanted = uint64_t{text.size()} * 2 + 25;
        length = static_cast<int>(std::min<uint64_t>(wanted, uint64_t{std::numeric_limits<int32_t>::max()}));
    }
    std::u16string field = MakeFillerSeeded(length, seed);
    const size_t size = field.size();
    std::srand(seed);
    const size_t offset = static_cast<size_t>(std::rand() % 10 + 15);

    // A text longer than the field can hold after its offset is cut to fit, and the length
    // written is the length kept, so the field reads back as that cut text.
    const size_t kept = std::min(text.size(), size > offset ? size - offset : 0);

    // Everything is placed only where the field has room; a field too short for its head
    // reads back as an empty text.
    const auto put = [&](size_t position, std::u16string_view part) {
        for (size_t i = 0; i < part.size() && position + i < size; ++i)
            field[position + i] = part[i];
    };
    put(OFFSET_POSITION, Decimal(offset));
    const std::u16string count = Decimal(kept);
    put(LENGTH_POSITION, count);
    put(LENGTH_POSITION + count.size(), std::u16string(1, TERMINATOR));
    put(offset, std::u16string_view(text).substr(0, kept));

    for (char16_t& c : field)
        c = static_cast<char16_t>(c + SHIFT);
    return field;
}

std::u16string ScrambleText(const std::u16string& text, int length)
{
    return ScrambleTextSeeded(text, length, SecondsNow());
}

namespace {

bool AreDigits(std::u16string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// The text of a field; *whole tells whether the head is written as ScrambleText writes it
// (digits for the offset and the length) and the text lies inside the field.
std::u16string Unscramble(const std::u16string& field, bool* whole)
{
    *whole = false;
    std::u16string plain = field;
    for (char16_t& c : plain)
        c = static_cast<char16_t>(c - SHIFT);

    const std::u16string_view view(plain);
    const std::u16string_view offsetDigits = view.substr(std::min(OFFSET_POSITION, view.size()), 2);
    const int32_t offset = px::WToI(offsetDigits);
    const size_t terminator = view.find(TERMINATOR);
    if (terminator == std::u16string_view::npos || terminator < LENGTH_POSITION)
        return {};
    const std::u16string_view countDigits = view.substr(LENGTH_POSITION, terminator - LENGTH_POSITION);
    const int32_t count = px::WToI(countDigits);
    *whole = offsetDigits.size() == 2 && AreDigits(offsetDigits) && AreDigits(countDigits)
        && uint64_t{static_cast<uint32_t>(offset)} + static_cast<uint32_t>(count) <= view.size();
    if (offset < 0 || count <= 0 || static_cast<size_t>(offset) >= view.size())
        return {};
    return std::u16string(view.substr(static_cast<size_t>(offset), static_cast<size_t>(count)));
}

}  // namespace

std::u16string UnscrambleText(const std::u16string& field)
{
    bool whole = false;
    return Unscramble(field, &whole);
}

std::optional<std::u16string> ReadScrambledText(const std::u16string& field)
{
    bool whole = false;
    std::u16string text = Unscramble(field, &whole);
    if (!whole)
        return std::nullopt;
    return text;
}
