#pragma once
// UTF-16 <-> UTF-8, the one conversion used at every edge of the program.
// Lone surrogates travel as their three-byte WTF-8 form, so any UTF-16 text survives a
// round trip; bytes that are not UTF-8 decode to U+DC80..U+DCFF (one unit per byte), which
// no real name or setting holds, so they can never match by accident.

#include <optional>
#include <string>
#include <string_view>

namespace px {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
// Strict decoding: nullopt when bytes are not well-formed UTF-8 (WTF-8 surrogates allowed
// when allowSurrogates is true).
std::optional<std::u16string> DecodeUtf8Strict(std::string_view bytes, bool allowSurrogates);

}  // namespace px
