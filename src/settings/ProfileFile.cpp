#include "settings/ProfileFile.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "base/AsciiCase.h"
#include "base/DecimalText.h"
#include "base/Unicode.h"
#include "platform/Files.h"

namespace px {

namespace {

enum class Encoding {
    Utf8,  // also what a legacy code page file becomes when it is written
    Utf8Bom,
    Utf16Le,
};

struct Line {
    std::u16string content;
    std::u16string ending;  // "\r\n", "\n", or empty for a last line without one
};

struct Profile {
    Encoding encoding = Encoding::Utf8;
    std::vector<Line> lines;
};

// CR, LF and NUL inside a value would end its line (or the text, for other programs). In a
// UTF-8 file they are written as their overlong two-byte forms C0 80, C0 8A and C0 8D,
// which no well-formed UTF-8 holds, so they break nothing and read back as they were.
// Scrambled arguments need this: a tab becomes CR there, and U+FFFC becomes NUL.
constexpr char OVERLONG_LEAD = '\xC0';

bool IsLineBreaking(char16_t unit) { return unit == u'\0' || unit == u'\n' || unit == u'\r'; }

// The lines of text split at each LF; a CR right before the LF belongs to the line end.
template <class Char> void SplitAtLineFeeds(std::basic_string_view<Char> text, const auto& addLine)
{
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find(Char('\n'), start);
        if (lf == text.npos) {
            addLine(text.substr(start), u"");
            return;
        }
        const bool crlf = lf > start && text[lf - 1] == Char('\r');
        addLine(text.substr(start, (crlf ? lf - 1 : lf) - start), crlf ? u"\r\n" : u"\n");
        start = lf + 1;
    }
}

std::vector<Line> LinesOfText(std::u16string_view text)
{
    std::vector<Line> lines;
    SplitAtLineFeeds(text, [&](std::u16string_view content, const char16_t* ending) {
        lines.push_back({std::u16string(content), ending});
    });
    return lines;
}

// One line of a UTF-8 file. strict: nullopt unless it is well-formed (lone surrogates and
// the three overlong forms allowed); otherwise stray bytes become U+DC80..U+DCFF.
std::optional<std::u16string> DecodeUtf8Line(std::string_view bytes, bool strict)
{
    std::u16string text;
    size_t pos = 0;
    for (;;) {
        // C0 is never part of a well-formed sequence, so the parts between them decode alone.
        const size_t lead = bytes.find(OVERLONG_LEAD, pos);
        const std::string_view part = bytes.substr(pos, lead == std::string_view::npos ? bytes.npos : lead - pos);
        if (strict) {
            std::optional<std::u16string> decoded = DecodeUtf8Strict(part, true);
            if (!decoded)
                return std::nullopt;
            text += *decoded;
        } else {
            text += FromUtf8(part);
        }
        if (lead == std::string_view::npos)
            return text;
        const unsigned char next = lead + 1 < bytes.size() ? static_cast<unsigned char>(bytes[lead + 1]) : 0;
        if (next == 0x80 || next == 0x8A || next == 0x8D) {
            text += static_cast<char16_t>(next & 0x3F);
            pos = lead + 2;
        } else if (strict) {
            return std::nullopt;
        } else {
            text += static_cast<char16_t>(0xDCC0);
            pos = lead + 1;
        }
    }
}

std::optional<std::vector<Line>> LinesOfUtf8(std::string_view bytes, bool strict)
{
    std::vector<Line> lines;
    bool ok = true;
    SplitAtLineFeeds(bytes, [&](std::string_view content, const char16_t* ending) {
        std::optional<std::u16string> text = ok ? DecodeUtf8Line(content, strict) : std::nullopt;
        ok = text.has_value();
        if (ok)
            lines.push_back({std::move(*text), ending});
    });
    if (!ok)
        return std::nullopt;
    return lines;
}

Profile Decode(std::string_view bytes)
{
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        bytes.remove_prefix(2);
        std::u16string text;
        text.reserve(bytes.size() / 2);
        // A trailing odd byte (a cut file) is dropped.
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(
                static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return {Encoding::Utf16Le, LinesOfText(text)};
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return {Encoding::Utf8Bom, *LinesOfUtf8(bytes.substr(3), false)};
    if (auto lines = LinesOfUtf8(bytes, true))
        return {Encoding::Utf8, std::move(*lines)};
    // Hand-edited files from Chinese Windows systems are in the ANSI code page.
    if (auto text = GetFiles().DecodeAnsiCodePage(bytes))
        return {Encoding::Utf8, LinesOfText(*text)};
    // Neither: keep what is readable. Stray bytes become U+DC80..U+DCFF, which no name
    // matches, so the keys on intact lines are still found and kept on a write.
    return {Encoding::Utf8, *LinesOfUtf8(bytes, false)};
}

void AppendUtf8Line(std::string& bytes, std::u16string_view content)
{
    size_t start = 0;
    for (size_t i = 0; i <= content.size(); ++i) {
        if (i < content.size() && !IsLineBreaking(content[i]))
            continue;
        bytes += ToUtf8(content.substr(start, i - start));
        if (i < content.size()) {
            bytes += OVERLONG_LEAD;
            bytes += static_cast<char>(0x80 | content[i]);
        }
        start = i + 1;
    }
}

std::string Encode(const Profile& profile)
{
    std::string bytes;
    if (profile.encoding == Encoding::Utf16Le) {
        // UTF-16 has no spare form for them: there CR, LF and NUL are written as spaces.
        bytes = "\xFF\xFE";
        const auto append = [&](char16_t unit) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        };
        for (const Line& line : profile.lines) {
            for (const char16_t unit : line.content)
                append(IsLineBreaking(unit) ? u' ' : unit);
            for (const char16_t unit : line.ending)
                append(unit);
        }
        return bytes;
    }
    if (profile.encoding == Encoding::Utf8Bom)
        bytes = "\xEF\xBB\xBF";
    for (const Line& line : profile.lines) {
        AppendUtf8Line(bytes, line.content);
        bytes += ToUtf8(line.ending);
    }
    return bytes;
}

std::u16string_view Trim(std::u16string_view text)
{
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) { return EqualsIgnoringAsciiCase(a, b); }

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::u16string_view name;
    std::u16string_view value;
};

ParsedLine ParseLine(std::u16string_view content)
{
    const std::u16string_view line = Trim(content);
    if (line.empty() || line.front() == u';')
        return {};
    if (line.front() == u'[') {
        const std::u16string_view inside = line.substr(1);
        return {LineKind::Section, Trim(inside.substr(0, inside.find(u']'))), {}};
    }
    const size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos)
        return {};
    return {LineKind::Key, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

// Where a key stands in the lines: the first section of that name and, within it, the first
// line with that key.
struct Location {
    std::optional<size_t> section;
    std::optional<size_t> key;
    size_t lastOfSection = 0;  // the section's last line that is not blank
};

Location Locate(const std::vector<Line>& lines, std::u16string_view section, std::u16string_view key)
{
    Location where;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines[i].content);
        if (!where.section) {
            if (parsed.kind == LineKind::Section && NamesEqual(parsed.name, section)) {
                where.section = i;
                where.lastOfSection = i;
            }
            continue;
        }
        if (parsed.kind == LineKind::Section)
            break;
        if (!Trim(lines[i].content).empty())
            where.lastOfSection = i;
        if (parsed.kind == LineKind::Key && NamesEqual(parsed.name, key)) {
            where.key = i;
            break;
        }
    }
    return where;
}

std::optional<std::vector<Line>> LoadLines(const std::u16string& path)
{
    const std::optional<std::string> bytes = GetFiles().ReadWholeFile(path);
    if (!bytes)
        return std::nullopt;
    return Decode(*bytes).lines;
}

std::optional<std::u16string> FindValue(
    const std::u16string& path, const std::u16string& section, const std::u16string& key)
{
    const std::optional<std::vector<Line>> lines = LoadLines(path);
    if (!lines)
        return std::nullopt;
    const Location where = Locate(*lines, section, key);
    if (!where.key)
        return std::nullopt;
    return std::u16string(ParseLine((*lines)[*where.key].content).value);
}

}  // namespace

std::u16string ReadProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& def)
{
    return FindValue(path, section, key).value_or(def);
}

int32_t ReadProfileInt(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, int32_t def)
{
    const std::optional<std::u16string> value = FindValue(path, section, key);
    return value ? WToI(*value) : def;
}

bool WriteProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& value)
{
    return WriteProfileStrings(path, section, {{key, value}});
}

bool WriteProfileStrings(const std::u16string& path, const std::u16string& section,
    const std::vector<std::pair<std::u16string, std::u16string>>& keyValues)
{
    if (path.empty())
        return false;
    const std::optional<std::string> bytes = GetFiles().ReadWholeFile(path);
    // A file that exists but cannot be read is never replaced as if it were new.
    if (!bytes && GetFiles().PathExists(path))
        return false;

    Profile profile = bytes ? Decode(*bytes) : Profile{};
    std::vector<Line>& lines = profile.lines;
    std::u16string newline = u"\r\n";
    if (!lines.empty() && !lines.front().ending.empty())
        newline = lines.front().ending;

    for (const auto& [key, value] : keyValues) {
        const Location where = Locate(lines, section, key);
        if (where.key) {
            // Keep the key as it is spelt in the file.
            Line& line = lines[*where.key];
            line.content = std::u16string(ParseLine(line.content).name) + u"=" + value;
        } else if (where.section) {
            Line& last = lines[where.lastOfSection];
            if (last.ending.empty())
                last.ending = newline;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(where.lastOfSection) + 1,
                Line{key + u"=" + value, newline});
        } else {
            if (!lines.empty() && lines.back().ending.empty())
                lines.back().ending = newline;
            lines.push_back({u"[" + section + u"]", newline});
            lines.push_back({key + u"=" + value, newline});
        }
    }
    return GetFiles().WriteFileAtomically(path, Encode(profile));
}

}  // namespace px
