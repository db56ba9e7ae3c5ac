#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "settings/Scramble.h"

namespace {

const std::u16string kAlphabet = FILLER_ALPHABET;

std::u16string Shifted(std::u16string text, int by)
{
    for (char16_t& c : text)
        c = static_cast<char16_t>(c + by);
    return text;
}

bool IsShiftedFiller(char16_t c) { return kAlphabet.find(static_cast<char16_t>(c - 4)) != std::u16string::npos; }

// The offset a field names at positions 1 and 2.
int OffsetOf(const std::u16string& field) { return (field[1] - 4 - u'0') * 10 + (field[2] - 4 - u'0'); }

std::u16string Digits(size_t n)
{
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

// The first seed below 1000 whose field for text puts the text at the wanted offset;
// nullopt when none does (offsets take ten values, so a sound scramble has many such seeds).
std::optional<uint32_t> SeedForOffset(const std::u16string& text, int length, int offset)
{
    for (uint32_t seed = 0; seed < 1000; ++seed) {
        if (OffsetOf(ScrambleTextSeeded(text, length, seed)) == offset)
            return seed;
    }
    return std::nullopt;
}

TEST(Scramble, AlphabetHoldsNeitherTerminatorNorZero)
{
    EXPECT_EQ(kAlphabet.size(), 33u);
    EXPECT_EQ(kAlphabet.find(u'@'), std::u16string::npos);
    EXPECT_EQ(kAlphabet.find(u'0'), std::u16string::npos);
    EXPECT_EQ(PASSWORD_FIELD_LENGTH, 60);
}

TEST(Scramble, WorkedExampleOfThreeLetters)
{
    const std::optional<uint32_t> seed = SeedForOffset(u"abc", 0, 17);
    ASSERT_TRUE(seed.has_value());
    const std::u16string field = ScrambleTextSeeded(u"abc", 0, *seed);

    ASSERT_EQ(field.size(), 31u);
    EXPECT_EQ(field.substr(1, 2), u"5;");
    EXPECT_EQ(field[5], u'7');
    EXPECT_EQ(field[6], u'D');
    EXPECT_EQ(field.substr(17, 3), u"efg");
    for (size_t i : {0, 3, 4, 7, 16, 20, 30})
        EXPECT_TRUE(IsShiftedFiller(field[i])) << i;
    for (size_t i = 7; i < 17; ++i)
        EXPECT_TRUE(IsShiftedFiller(field[i])) << i;
    for (size_t i = 20; i < 31; ++i)
        EXPECT_TRUE(IsShiftedFiller(field[i])) << i;
    EXPECT_EQ(UnscrambleText(field), u"abc");
}

TEST(Scramble, FieldLayoutForTextLengths)
{
    struct Case {
        size_t length;  // of the text
        size_t terminatorAt;
    };
    for (const Case c : {Case{0, 6}, {1, 6}, {9, 6}, {10, 7}, {99, 7}, {100, 8}, {415, 8}}) {
        const std::u16string text(c.length, u'x');
        for (uint32_t seed : {1u, 77u, 1700000000u}) {
            const std::u16string field = ScrambleTextSeeded(text, 0, seed);
            ASSERT_EQ(field.size(), 2 * c.length + 25);
            const int offset = OffsetOf(field);
            EXPECT_GE(offset, 15);
            EXPECT_LE(offset, 24);
            EXPECT_EQ(field[c.terminatorAt], u'D') << c.length;
            EXPECT_EQ(Shifted(field.substr(5, c.terminatorAt - 5), -4), Digits(c.length));
            EXPECT_EQ(field.substr(static_cast<size_t>(offset), c.length), std::u16string(c.length, u'|'));
            EXPECT_EQ(UnscrambleText(field), text);
        }
    }
}

TEST(Scramble, PasswordFieldKeepsFillerAfterTheText)
{
    const std::u16string password = u"0123456789abcdef";
    for (uint32_t seed = 0; seed < 40; ++seed) {
        const std::u16string field = ScrambleTextSeeded(password, PASSWORD_FIELD_LENGTH, seed);
        ASSERT_EQ(field.size(), 60u);
        const size_t end = static_cast<size_t>(OffsetOf(field)) + password.size();
        EXPECT_LE(end, 40u);
        for (size_t i = end; i < 60; ++i)
            EXPECT_TRUE(IsShiftedFiller(field[i])) << i;
        EXPECT_EQ(UnscrambleText(field), password);
    }
}

TEST(Scramble, AnyTextRoundTrips)
{
    const std::u16string texts[] = {
        u"",
        u"-u admin -p secret",
        u"@a@b@",
        u"\"C:\\a b\\x.ini\" --mode=live",
        u"中文参数 \u00ff\u0100",
        u"\uFFFB\uFFFC\uFFFD\uFFFE\uFFFF",
        u"\u0000\u0001\u0002\u0003",
        u"\xD800 lone \xDFFF",
        u"{|}~",
    };
    for (const std::u16string& text : texts) {
        for (uint32_t seed : {3u, 1234567u}) {
            EXPECT_EQ(UnscrambleText(ScrambleTextSeeded(text, 0, seed)), text);
            EXPECT_EQ(UnscrambleText(ScrambleTextSeeded(text, PASSWORD_FIELD_LENGTH, seed)), text);
        }
    }
}

TEST(Scramble, ShiftWrapsAtTheTopOfUtf16)
{
    const std::u16string text = u"\uFFFC\uFFFD\uFFFE\uFFFF";
    const std::u16string field = ScrambleTextSeeded(text, 0, 9);
    EXPECT_EQ(field.substr(static_cast<size_t>(OffsetOf(field)), 4), std::u16string(u"\u0000\u0001\u0002\u0003", 4));
}

TEST(Scramble, SameSeedSameFieldOtherSeedOtherField)
{
    const std::u16string text = u"--port 4001";
    EXPECT_EQ(ScrambleTextSeeded(text, 0, 42), ScrambleTextSeeded(text, 0, 42));
    EXPECT_NE(ScrambleTextSeeded(text, 0, 42), ScrambleTextSeeded(text, 0, 43));
}

TEST(Scramble, ClockSeededFieldsReadBack)
{
    const std::u16string text = u"--port 4001";
    const std::time_t before = std::time(nullptr);
    const std::u16string first = ScrambleText(text, 0);
    const std::u16string second = ScrambleText(text, 0);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(UnscrambleText(first), text);
    EXPECT_EQ(UnscrambleText(second), text);
    if (before == after) {
        EXPECT_EQ(first, second);
    }
    EXPECT_EQ(ScrambleText(text, PASSWORD_FIELD_LENGTH).size(), 60u);
}

TEST(Scramble, TextTooLongForTheFieldIsCutToFit)
{
    const std::u16string text(50, u'p');
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const std::u16string field = ScrambleTextSeeded(text, PASSWORD_FIELD_LENGTH, seed);
        ASSERT_EQ(field.size(), 60u);
        EXPECT_EQ(UnscrambleText(field), std::u16string(60 - static_cast<size_t>(OffsetOf(field)), u'p'));
    }
}

TEST(Scramble, FieldTooShortForItsHeadIsExactAndReadsEmpty)
{
    for (int length = 1; length < 15; ++length) {
        const std::u16string field = ScrambleTextSeeded(u"secret", length, 5);
        ASSERT_EQ(field.size(), static_cast<size_t>(length));
        EXPECT_EQ(UnscrambleText(field), u"");
    }
}

TEST(Scramble, FillerIsAShuffleOfTheAlphabet)
{
    EXPECT_EQ(MakeFillerSeeded(0, 1), u"");
    EXPECT_EQ(MakeFillerSeeded(-3, 1), u"");
    EXPECT_EQ(MakeFillerSeeded(-1, 1), u"");

    std::u16string sorted = MakeFillerSeeded(33, 11);
    EXPECT_NE(sorted, kAlphabet);
    std::sort(sorted.begin(), sorted.end());
    std::u16string expected = kAlphabet;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);

    // Longer fillers draw from the doubled alphabet: no character more often than the copies.
    for (int length : {34, 66, 100, 300}) {
        const std::u16string filler = MakeFillerSeeded(length, 11);
        ASSERT_EQ(filler.size(), static_cast<size_t>(length));
        size_t copies = 1;
        while (copies * 33 < static_cast<size_t>(length))
            copies *= 2;
        std::map<char16_t, size_t> counts;
        for (char16_t c : filler)
            ++counts[c];
        for (const auto& [c, n] : counts) {
            EXPECT_NE(kAlphabet.find(c), std::u16string::npos);
            EXPECT_LE(n, copies);
        }
    }
    EXPECT_EQ(MakeFillerSeeded(60, 0xFFFFFFFFu).size(), 60u);
}

TEST(Unscramble, MalformedFieldsGiveEmptyOrCutText)
{
    struct Case {
        std::u16string plain;  // the field before the shift
        std::u16string text;
    };
    const Case cases[] = {
        {u"", u""}, {u"x", u""}, {u"x17", u""}, {u"x17xx3", u""},  // no terminator
        {u"@17xx3@zzzzzzzzzzzzzzzzzzzz", u""},  // "@" before the length
        {u"x17x@3@zzzzzzzzzzzzzzzzzzzz", u""}, {u"x99xx3@zzzzzzzzz", u""},  // offset past the end
        {u"x16xx3@", u""}, {u"x-1xx3@zzzzzzzzzzzzzzzzzzzz", u""},  // negative offset
        {u"x15xx-3@zzzzzzzzzzzzzzzzzzz", u""},  // negative length
        {u"x15xx0@zzzzzzzzabc", u""}, {u"x15xx@zzzzzzzzzabc", u""},  // no digits: length 0
        {u"x15xx5@zzzzzzzzab", u"ab"},  // text cut by the end of the field
        {u"x15xx99999999999999999999@", u"9999999999@"},  // huge length, offset inside the digits
        {u"x15xx3@zzzzzzzzabcdef", u"abc"},
        {u"x05xx3@zzzz", u"3@z"},  // small offset: read as given, still inside the field
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnscrambleText(Shifted(c.plain, 4)), c.text) << std::string(c.plain.begin(), c.plain.end());
}

}  // namespace

namespace {

// Only a field whose head is written as ScrambleText writes it (digits for the offset and the
// length) and whose text lies inside it reads whole; every field ScrambleText makes does.
TEST(ReadScrambled, OnlyWholeFieldsRead)
{
    struct Case {
        std::u16string plain;  // the field before the shift
        std::optional<std::u16string> text;
    };
    const Case cases[] = {
        {u"", std::nullopt},
        {u"x17xx3", std::nullopt},  // no terminator
        {u"@17xx3@zzzzzzzzzzzzzzzzzzzz", std::nullopt},  // "@" before the length
        {u"x99xx3@zzzzzzzzz", std::nullopt},  // offset past the end
        {u"x-1xx3@zzzzzzzzzzzzzzzzzzzz", std::nullopt},
        {u"x1xxx3@zzzzzzzzzzzzzzzzzzzz", std::nullopt},
        {u"x15xx-3@zzzzzzzzzzzzzzzzzzz", std::nullopt},
        {u"x15xx@zzzzzzzzzabc", std::nullopt},
        {u"x15xx3a@zzzzzzzzabc", std::nullopt},  // the length is no number
        {u"x15xx5@zzzzzzzzab", std::nullopt},  // text cut by the end of the field
        {u"x15xx99999999999999999999@", std::nullopt},
        {u"x15xx0@zzzzzzzz", u""},
        {u"x15xx3@zzzzzzzzabcdef", u"abc"},
        {u"x15xx3@zzzzzzzzabc", u"abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadScrambledText(Shifted(c.plain, 4)), c.text) << std::string(c.plain.begin(), c.plain.end());
    // Plain arguments are no field, even where a "D" (a shifted terminator) stands in them.
    EXPECT_EQ(ReadScrambledText(u"--port 4001 --user Dave"), std::nullopt);
    for (uint32_t seed = 0; seed < 50; ++seed) {
        for (const std::u16string& text :
            {std::u16string(), std::u16string(u"--port 4001"), std::u16string(70, u'p')}) {
            EXPECT_EQ(ReadScrambledText(ScrambleTextSeeded(text, 0, seed)), text);
            const std::u16string password = ScrambleTextSeeded(text, PASSWORD_FIELD_LENGTH, seed);
            EXPECT_EQ(ReadScrambledText(password), UnscrambleText(password));
        }
    }
}

}  // namespace
