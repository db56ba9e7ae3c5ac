#include "settings/ProfileFile.h"

#include <algorithm>
#include <cstddef>

#include "base/AsciiCase.h"
#include "base/Unicode.h"
#include "platform/Files.h"
#include "settings/ProfileEncoding.h"

namespace px {

namespace {

// A unit that would end a line: CR, LF and NUL, which only a UTF-8 file can hold in a value
// (escaped, see kUtf8EscapeLead).
bool IsLineBreaking(char16_t unit) { return unit == u'\0' || unit == u'\n' || unit == u'\r'; }

// What the Windows profile functions trim around lines, names and values, CR and LF apart:
// those never stand in a line's text here (the file's own CR and LF end lines; inside a value
// they are the program's escapes, part of the value).
bool IsProfileBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0x0B || c == 0x0C || c == 0x1A; }

std::u16string_view Trim(std::u16string_view text)
{
    while (!text.empty() && IsProfileBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsProfileBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Files whose text is stored as the same bytes, a BOM apart.
bool SameTextBytes(ProfileEncoding a, ProfileEncoding b)
{
    if (IsUtf8(a) && IsUtf8(b))
        return true;
    if (a == ProfileEncoding::Utf16BeBom || b == ProfileEncoding::Utf16BeBom)
        return a == b;
    return (IsUtf16(a) && IsUtf16(b)) || a == b;
}

char16_t Utf16UnitAt(std::string_view bytes, size_t pos, bool bigEndian)
{
    const auto lo = static_cast<unsigned char>(bytes[pos + (bigEndian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(bytes[pos + (bigEndian ? 0 : 1)]);
    return static_cast<char16_t>(lo | (hi << 8));
}

void AppendUtf16Unit(std::string& bytes, char16_t unit, bool bigEndian)
{
    const char lo = static_cast<char>(unit & 0xFF);
    const char hi = static_cast<char>(unit >> 8);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
}

// The UTF-8 text of a line of a UTF-8 file: stray bytes become U+DC80..U+DCFF, the escapes
// their unit; the NUL bytes of the file are noted.
void DecodeUtf8Line(std::string_view bytes, std::u16string& text, std::vector<size_t>& fileNuls)
{
    constexpr std::string_view kSpecial("\xC0\0", 2);
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t special = bytes.find_first_of(kSpecial, pos);
        // C0 and NUL are never part of a longer sequence, so the parts between them decode alone.
        text += FromUtf8(bytes.substr(pos, special == std::string_view::npos ? bytes.npos : special - pos));
        if (special == std::string_view::npos)
            return;
        if (bytes[special] == '\0') {
            fileNuls.push_back(text.size());
            text += u'\0';
            pos = special + 1;
        } else if (special + 1 < bytes.size() && IsUtf8EscapeTrail(static_cast<unsigned char>(bytes[special + 1]))) {
            text += static_cast<char16_t>(bytes[special + 1] & 0x3F);
            pos = special + 2;
        } else {
            text += static_cast<char16_t>(0xDC00 + kUtf8EscapeLead);
            pos = special + 1;
        }
    }
}

void AppendEscapedUtf8(std::string& bytes, std::u16string_view text)
{
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsLineBreaking(text[i]))
            continue;
        bytes += ToUtf8(text.substr(start, i - start));
        if (i < text.size()) {
            bytes += static_cast<char>(kUtf8EscapeLead);
            bytes += static_cast<char>(0x80 | text[i]);
        }
        start = i + 1;
    }
}

uint32_t NameHash(std::u16string_view name)
{
    uint32_t hash = 2166136261u;
    for (const char16_t unit : name) {
        hash ^= AsciiLower(unit);
        hash *= 16777619u;
    }
    return hash;
}

enum class ParsedKind { Blank, Section, Key };

struct ParsedLine {
    ParsedKind kind = ParsedKind::Blank;
    std::u16string_view name;
    std::optional<std::u16string_view> value;  // none for a key line without '='
};

// A name or value ends at the first NUL of the file within it, as a C string would.
std::u16string_view CutAtFileNul(std::u16string_view part, std::u16string_view text, const std::vector<size_t>& nuls)
{
    const size_t begin = static_cast<size_t>(part.data() - text.data());
    const auto nul = std::lower_bound(nuls.begin(), nuls.end(), begin);
    if (nul != nuls.end() && *nul < begin + part.size())
        part = part.substr(0, *nul - begin);
    return part;
}

// A line as the Windows profile functions read it: "[name]" up to its last ']' starts a
// section; any other line that is not blank is a key, its value after the first '='.
ParsedLine ParseLine(std::u16string_view text, const std::vector<size_t>& fileNuls)
{
    const std::u16string_view line = Trim(text);
    if (line.empty())
        return {};
    if (line.front() == u'[') {
        const size_t close = line.rfind(u']');
        if (close != 0 && close != std::u16string_view::npos)
            return {ParsedKind::Section, CutAtFileNul(Trim(line.substr(1, close - 1)), text, fileNuls), {}};
    }
    const size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos)
        return {ParsedKind::Key, CutAtFileNul(line, text, fileNuls), std::nullopt};
    return {ParsedKind::Key, CutAtFileNul(Trim(line.substr(0, equals)), text, fileNuls),
        CutAtFileNul(Trim(line.substr(equals + 1)), text, fileNuls)};
}

// The integer of a value as the Windows profile functions read it, once quotes and an
// empty value are dealt with; saturating where they wrap around.
int32_t ProfileInteger(std::u16string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] <= u' ')
        ++i;
    bool minus = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        minus = text[i] == u'-';
        ++i;
    }
    uint64_t base = 10;
    if (i + 1 < text.size() && text[i] == u'0') {
        base = text[i + 1] == u'x' ? 16 : text[i + 1] == u'o' ? 8 : text[i + 1] == u'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    constexpr uint64_t kLimit = uint64_t(1) << 31;
    uint64_t total = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        const int digit = (c >= u'0' && c <= u'9') ? c - u'0'
            : (c >= u'a' && c <= u'z')             ? c - u'a' + 10
            : (c >= u'A' && c <= u'Z')             ? c - u'A' + 10
                                                   : -1;
        if (digit < 0 || static_cast<uint64_t>(digit) >= base)
            break;
        total = std::min(total * base + static_cast<uint64_t>(digit), kLimit);
    }
    if (minus)
        return total >= kLimit ? INT32_MIN : -static_cast<int32_t>(total);
    return total >= kLimit ? INT32_MAX : static_cast<int32_t>(total);
}

}  // namespace

ParsedProfile::ParsedProfile(std::string bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding)
    : m_bytes(std::move(bytes))
    , m_ansi(&ansi)
    , m_newEncoding(newEncoding)
    , m_encoding(DetectProfileEncodingFor(m_bytes, ansi, newEncoding))
{
}

ParsedProfile ParsedProfile::Parse(std::string bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding)
{
    ParsedProfile profile(std::move(bytes), ansi, newEncoding);
    profile.SplitLines();
    return profile;
}

void ParsedProfile::SplitLines()
{
    m_textBegin = BomOf(m_encoding).size();
    m_textEnd = m_bytes.size();
    const bool utf16 = IsUtf16(m_encoding);
    const bool bigEndian = m_encoding == ProfileEncoding::Utf16BeBom;
    const size_t step = utf16 ? 2 : 1;
    if (utf16 && (m_textEnd - m_textBegin) % 2 != 0)
        --m_textEnd;  // a cut last unit: kept as it is, read as nothing
    const auto unitAt = [&](size_t pos) -> char16_t {
        return utf16 ? Utf16UnitAt(m_bytes, pos, bigEndian) : static_cast<unsigned char>(m_bytes[pos]);
    };
    const bool ansi = m_encoding == ProfileEncoding::Ansi;

    size_t lineBegin = m_textBegin;
    size_t pos = m_textBegin;
    while (pos < m_textEnd) {
        const char16_t unit = unitAt(pos);
        // A lead byte takes the byte after it into its character, even a line end.
        if (ansi && m_ansi->IsLeadByte(static_cast<unsigned char>(unit)) && pos + 1 < m_textEnd
            && m_bytes[pos + 1] != '\0') {
            pos += 2;
            continue;
        }
        if (unit != u'\n' && unit != u'\r') {
            pos += step;
            continue;
        }
        LineEnd end = LineEnd::Lf;
        size_t endSize = 1;
        if (unit == u'\r') {
            const bool lf1 = pos + step < m_textEnd && unitAt(pos + step) == u'\n';
            const bool crlf2
                = !lf1 && pos + 2 * step < m_textEnd && unitAt(pos + step) == u'\r' && unitAt(pos + 2 * step) == u'\n';
            end = lf1 ? LineEnd::CrLf : crlf2 ? LineEnd::CrCrLf : LineEnd::Cr;
            endSize = lf1 ? 2 : crlf2 ? 3 : 1;
        }
        Line line;
        line.begin = lineBegin;
        line.size = pos - lineBegin;
        line.end = end;
        Classify(line);
        m_lines.push_back(line);
        pos += endSize * step;
        lineBegin = pos;
    }
    if (lineBegin < m_textEnd) {
        Line line;
        line.begin = lineBegin;
        line.size = m_textEnd - lineBegin;
        Classify(line);
        m_lines.push_back(line);
    }
    for (const Line& line : m_lines) {
        if (line.end != LineEnd::None) {
            m_newline = line.end;
            break;
        }
    }
}

void ParsedProfile::Classify(Line& line) const
{
    const LineText text = TextOf(line);
    const ParsedLine parsed = ParseLine(text.text, text.fileNuls);
    line.kind = parsed.kind == ParsedKind::Section ? LineKind::Section
        : parsed.kind == ParsedKind::Key           ? LineKind::Key
                                                   : LineKind::Blank;
    line.nameHash = NameHash(parsed.name);
}

ParsedProfile::LineText ParsedProfile::TextOf(const Line& line) const
{
    LineText result;
    if (line.written >= 0) {
        result.text = m_written[static_cast<size_t>(line.written)];
        return result;
    }
    const std::string_view bytes = std::string_view(m_bytes).substr(line.begin, line.size);
    if (IsUtf8(m_encoding)) {
        DecodeUtf8Line(bytes, result.text, result.fileNuls);
        return result;
    }
    if (IsUtf16(m_encoding)) {
        result.text.reserve(bytes.size() / 2);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            result.text += Utf16UnitAt(bytes, i, m_encoding == ProfileEncoding::Utf16BeBom);
    } else {
        result.text = m_ansi->Decode(bytes);
    }
    for (size_t i = 0; i < result.text.size(); ++i)
        if (result.text[i] == u'\0')
            result.fileNuls.push_back(i);
    return result;
}

ParsedProfile::Location ParsedProfile::Locate(std::u16string_view section, std::u16string_view key) const
{
    const uint32_t sectionHash = NameHash(section);
    const uint32_t keyHash = NameHash(key);
    const auto nameIs = [&](const Line& line, std::u16string_view name) {
        const LineText text = TextOf(line);
        return EqualsIgnoringAsciiCase(ParseLine(text.text, text.fileNuls).name, name);
    };
    Location where;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (!where.section) {
            if (line.kind == LineKind::Section && line.nameHash == sectionHash && nameIs(line, section)) {
                where.section = i;
                where.lastOfSection = i;
            }
            continue;
        }
        if (line.kind == LineKind::Section)
            break;
        if (line.kind != LineKind::Blank)
            where.lastOfSection = i;
        if (line.kind == LineKind::Key && line.nameHash == keyHash && nameIs(line, key)) {
            where.key = i;
            break;
        }
    }
    return where;
}

std::optional<std::u16string> ParsedProfile::Find(std::u16string_view section, std::u16string_view key) const
{
    const Location where = Locate(section, key);
    if (!where.key)
        return std::nullopt;
    const LineText text = TextOf(m_lines[*where.key]);
    const std::optional<std::u16string_view> value = ParseLine(text.text, text.fileNuls).value;
    if (!value)
        return std::nullopt;
    return std::u16string(*value);
}

std::u16string ParsedProfile::GetString(
    std::u16string_view section, std::u16string_view key, std::u16string_view def) const
{
    return Find(section, key).value_or(std::u16string(def));
}

int32_t ParsedProfile::GetInt(std::u16string_view section, std::u16string_view key, int32_t def) const
{
    const std::optional<std::u16string> found = Find(section, key);
    if (!found)
        return def;
    std::u16string_view value = *found;
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value.empty() ? def : ProfileInteger(value);
}

void ParsedProfile::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value)
{
    const Location where = Locate(section, key);
    const auto addLine = [&](size_t at, std::u16string text) {
        Line line;
        line.end = m_newline;
        line.written = static_cast<int32_t>(m_written.size());
        m_written.push_back(std::move(text));
        Classify(line);
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    };
    if (where.key) {
        Line& line = m_lines[*where.key];
        const LineText text = TextOf(line);
        const ParsedLine parsed = ParseLine(text.text, text.fileNuls);
        if (parsed.value && *parsed.value == value)
            return;
        line.written = static_cast<int32_t>(m_written.size());
        m_written.push_back(std::u16string(parsed.name) + u"=" + std::u16string(value));
        return;
    }
    if (where.section) {
        Line& last = m_lines[where.lastOfSection];
        if (last.end == LineEnd::None)
            last.end = m_newline;
        addLine(where.lastOfSection + 1, std::u16string(key) + u"=" + std::u16string(value));
        return;
    }
    if (!m_lines.empty() && m_lines.back().end == LineEnd::None)
        m_lines.back().end = m_newline;
    std::u16string header(1, u'[');
    header += section;
    header += u']';
    addLine(m_lines.size(), std::move(header));
    addLine(m_lines.size(), std::u16string(key) + u"=" + std::u16string(value));
}

std::optional<std::string> ParsedProfile::EncodeWritten(std::u16string_view text, ProfileEncoding target) const
{
    std::string bytes;
    if (IsUtf8(target)) {
        AppendEscapedUtf8(bytes, text);
        return bytes;
    }
    // UTF-16 and the code page have no spare form for a unit that would end the line.
    if (std::any_of(text.begin(), text.end(), IsLineBreaking))
        return std::nullopt;
    if (target == ProfileEncoding::Ansi)
        return m_ansi->Encode(text);
    for (const char16_t unit : text)
        AppendUtf16Unit(bytes, unit, target == ProfileEncoding::Utf16BeBom);
    return bytes;
}

bool ParsedProfile::EndsInLoneLeadByte(const Line& line) const
{
    if (m_encoding != ProfileEncoding::Ansi || line.size == 0
        || !m_ansi->IsLeadByte(static_cast<unsigned char>(m_bytes[line.begin + line.size - 1])))
        return false;
    size_t i = line.begin;
    const size_t end = line.begin + line.size;
    while (i + 1 < end)
        i += m_ansi->IsLeadByte(static_cast<unsigned char>(m_bytes[i])) && m_bytes[i + 1] != '\0' ? 2 : 1;
    return i + 1 == end;
}

// A line of another encoding as UTF-8 or UTF-16, reading as it read there: a character the
// code page could not decode is the '?' it was read as, a NUL stays a NUL of the file. Only
// UTF-8 files hold CR or LF in a line's text (escaped), and they are never converted.
std::optional<std::string> ParsedProfile::ConvertLine(const Line& line, ProfileEncoding target) const
{
    const std::u16string text = TextOf(line).text;
    if (IsUtf8(target))
        return ToUtf8(text);
    if (!IsUtf16(target))
        return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text)
        AppendUtf16Unit(bytes, unit, target == ProfileEncoding::Utf16BeBom);
    return bytes;
}

std::optional<std::string> ParsedProfile::Serialize(ProfileEncoding target) const
{
    const bool keepBytes = SameTextBytes(m_encoding, target);
    std::string bytes(BomOf(target));
    bytes.reserve(m_bytes.size() + 64);
    const auto appendEnd = [&](LineEnd end) {
        const std::u16string_view units = end == LineEnd::Lf ? u"\n"
            : end == LineEnd::CrLf                           ? u"\r\n"
            : end == LineEnd::Cr                             ? u"\r"
            : end == LineEnd::CrCrLf                         ? u"\r\r\n"
                                                             : u"";
        for (const char16_t unit : units) {
            if (IsUtf16(target))
                AppendUtf16Unit(bytes, unit, target == ProfileEncoding::Utf16BeBom);
            else
                bytes += static_cast<char>(unit);
        }
    };
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.written >= 0) {
            const std::optional<std::string> encoded
                = EncodeWritten(m_written[static_cast<size_t>(line.written)], target);
            if (!encoded)
                return std::nullopt;
            bytes += *encoded;
        } else if (keepBytes) {
            bytes.append(m_bytes, line.begin, line.size);
            // A lead byte left alone at the end of the file would take a CR or LF put after
            // it into its character: a second one ends the line, and the line reads the same.
            if (EndsInLoneLeadByte(line) && (line.end == LineEnd::Lf || line.end == LineEnd::Cr))
                appendEnd(line.end);
        } else if (const std::optional<std::string> converted = ConvertLine(line, target)) {
            bytes += *converted;
        } else {
            return std::nullopt;
        }
        appendEnd(line.written >= 0 ? EndBefore(i + 1, line.end) : line.end);
    }
    if (keepBytes)
        bytes.append(m_bytes, m_textEnd, std::string::npos);
    return bytes;
}

ParsedProfile::LineEnd ParsedProfile::EndBefore(size_t next, LineEnd end) const
{
    if (end != LineEnd::Cr || next >= m_lines.size())
        return end;
    const Line& line = m_lines[next];
    const bool blank = line.written < 0 && line.size == 0;
    return blank && line.end != LineEnd::None && line.end != LineEnd::Cr ? line.end : end;
}

std::string ParsedProfile::Bytes() const
{
    if (std::optional<std::string> bytes = Serialize(m_encoding)) {
        if (DetectProfileEncodingFor(*bytes, *m_ansi, m_newEncoding) == m_encoding)
            return std::move(*bytes);
        // The same text with its BOM, so that it is not taken for another encoding.
        if (m_encoding == ProfileEncoding::Utf16Le)
            return *Serialize(ProfileEncoding::Utf16LeBom);
        if (m_encoding == ProfileEncoding::Utf8)
            return *Serialize(ProfileEncoding::Utf8Bom);
    }
    // The encoding cannot hold a value, or its bytes would be taken for another one. Where new
    // files are the code page's, the system's profile functions read UTF-16LE with a BOM as
    // written; UTF-8 with a BOM holds every value (CR, LF and NUL too).
    if (m_newEncoding == NewTextEncoding::AnsiElseUtf16Le) {
        if (std::optional<std::string> bytes = Serialize(ProfileEncoding::Utf16LeBom))
            return std::move(*bytes);
    }
    return *Serialize(ProfileEncoding::Utf8Bom);
}

ParsedProfile LoadProfile(const std::u16string& path)
{
    Files& files = GetFiles();
    return ParsedProfile::Parse(
        files.ReadWholeFile(path).value_or(std::string()), files.LegacyCodePage(), files.NewFileEncoding());
}

bool WriteProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& value)
{
    return WriteProfileStrings(path, section, {{key, value}});
}

bool WriteProfileStrings(const std::u16string& path, const std::u16string& section,
    const std::vector<std::pair<std::u16string, std::u16string>>& keyValues,
    const std::vector<OptionalKey>& optionalKeys)
{
    if (path.empty())
        return false;
    Files& files = GetFiles();
    std::optional<std::string> bytes = files.ReadWholeFile(path);
    // A file that exists but cannot be read is never replaced as if it were new.
    if (!bytes && files.PathExists(path))
        return false;
    ParsedProfile profile = ParsedProfile::Parse(
        std::move(bytes).value_or(std::string()), files.LegacyCodePage(), files.NewFileEncoding());
    for (const auto& [key, value] : keyValues)
        profile.Set(section, key, value);
    constexpr char16_t kAbsent[] = u"\x01";  // no value a file can hold
    for (const OptionalKey& optional : optionalKeys)
        if (optional.value != optional.defaultValue || profile.GetString(section, optional.key, kAbsent) != kAbsent)
            profile.Set(section, optional.key, optional.value);
    return files.WriteFileAtomically(path, profile.Bytes());
}

}  // namespace px
