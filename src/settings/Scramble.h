#pragma once
// The keyless, self-describing scrambled field that hides the launch arguments and the
// password inside ARGS of config.ini.

#include <cstdint>
#include <optional>
#include <string>

// Filler characters: 24 lower-case letters and the digits 1 to 9, never "@" nor "0".
inline constexpr char16_t FILLER_ALPHABET[] = u"asdfghjklqwercvbnztyuiop456781239";
// Length of the password field at the head of a scrambled ARGS value.
inline constexpr int PASSWORD_FIELD_LENGTH = 60;

// text hidden in a field of exactly length characters (0 or less: 2n + 25). A text that
// does not fit a caller-given length is cut to fit.
std::u16string ScrambleText(const std::u16string& text, int length);
// The text of a scrambled field; empty when the field holds no terminator. Never reads
// outside the field, whatever it holds.
std::u16string UnscrambleText(const std::u16string& field);
// The text of a field as ScrambleText writes it: digits for the offset and the length, and the
// whole text inside the field. nullopt for anything else (plain text, a cut or damaged field).
std::optional<std::u16string> ReadScrambledText(const std::u16string& field);

// length filler characters, shuffled from a generator with this seed.
std::u16string MakeFillerSeeded(int length, uint32_t seed);
// ScrambleText with the seed given instead of read from the clock (for tests and for callers
// that already hold the time).
std::u16string ScrambleTextSeeded(const std::u16string& text, int length, uint32_t seed);
