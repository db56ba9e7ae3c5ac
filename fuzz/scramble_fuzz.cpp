// Fuzz target: UnscrambleText and ReadScrambledText on any text (they must never read outside
// the field, and agree where the field reads whole), and scramble -> unscramble round trips at
// the default length, at the password field's 60 and at any length from the input, with any
// seed; a field of the default length always reads whole.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Scramble.h"

namespace {

constexpr size_t kMinOffset = 15;
constexpr size_t kMaxOffset = 24;

std::u16string Units(const std::string& bytes)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(
            static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
}

[[noreturn]] void Fail(const char* what, size_t textSize, int length, size_t fieldSize, size_t backSize)
{
    std::fprintf(stderr, "scramble_fuzz: %s (text %zu units, length %d, field %zu, read back %zu)\n", what, textSize,
        length, fieldSize, backSize);
    std::abort();
}

// A field of length L holds the text whole when the text fits after the offset; what it
// cannot hold is cut from the end, never changed.
void CheckRoundTrip(const std::u16string& text, int length, uint32_t seed)
{
    const std::u16string field = ScrambleTextSeeded(text, length, seed);
    const size_t wanted = length > 0 ? static_cast<size_t>(length) : text.size() * 2 + 25;
    const std::u16string back = UnscrambleText(field);
    if (field.size() != wanted)
        Fail("the field is not as long as asked", text.size(), length, field.size(), back.size());
    if (back.size() > text.size() || text.compare(0, back.size(), back) != 0)
        Fail("the text read back is not the start of the text", text.size(), length, field.size(), back.size());
    const size_t surelyHeld = wanted > kMaxOffset ? wanted - kMaxOffset : 0;
    if (back.size() < std::min(text.size(), surelyHeld))
        Fail("a text that fits came back cut", text.size(), length, field.size(), back.size());
    if (back.size() > (wanted > kMinOffset ? wanted - kMinOffset : 0))
        Fail("more came back than the field can hold", text.size(), length, field.size(), back.size());
    const std::optional<std::u16string> whole = ReadScrambledText(field);
    if (whole ? *whole != back : length <= 0)
        Fail("the field does not read whole as the text read back", text.size(), length, field.size(), back.size());
    // Every stored unit is the text's, or filler, a digit or the terminator, shifted by 4.
    std::vector<bool> allowed(0x10000);
    for (const std::u16string_view part :
        {std::u16string_view(FILLER_ALPHABET), std::u16string_view(u"0123456789@"), std::u16string_view(text)})
        for (const char16_t unit : part)
            allowed[unit] = true;
    for (const char16_t unit : field) {
        const bool known = allowed[static_cast<char16_t>(unit - 4)];
        if (!known)
            Fail("a stored unit is neither filler nor the text's", text.size(), length, field.size(), back.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The whole input as a field first: whatever it holds, reading it stays inside it.
    const std::u16string field(Units(std::string(reinterpret_cast<const char*>(data), size)));
    const std::u16string read = UnscrambleText(field);
    if (read.size() > field.size())
        Fail("more read than the field holds", field.size(), 0, field.size(), read.size());
    const std::optional<std::u16string> whole = ReadScrambledText(field);
    if (whole && *whole != read)
        Fail("the field reads whole as another text", field.size(), 0, field.size(), read.size());

    FuzzedDataProvider input(data, size);
    const uint32_t seed = input.ConsumeIntegral<uint32_t>();
    const int length = input.ConsumeIntegralInRange<int>(-3, 700);
    const std::u16string text = Units(input.ConsumeRemainingBytesAsString());
    CheckRoundTrip(text, 0, seed);
    CheckRoundTrip(text.substr(0, 16), PASSWORD_FIELD_LENGTH, seed);
    CheckRoundTrip(text, PASSWORD_FIELD_LENGTH, seed);
    CheckRoundTrip(text, length, seed);
    return 0;
}
