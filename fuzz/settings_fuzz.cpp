// Fuzz target: any bytes as config.ini, on the in-memory file service, once as on Linux and
// once as on Windows (new files in the code page, else UTF-16LE). Every key is read (into the
// settings record), every key written back (the save of the settings, then start-on-launch),
// and the file read again: what was written reads back, and saving the same values again
// changes no byte. Every line Perennix does not write keeps its exact bytes, or, in a file
// that had to change its encoding, its text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryFiles.h"
#include "TempDir.h"
#include "TestGbk.h"
#include "base/Unicode.h"
#include "settings/GuardConfig.h"
#include "settings/ProfileFile.h"

namespace {

const std::u16string kFolder = u"/px";
const std::u16string kIni = u"/px/config.ini";
constexpr std::u16string_view kKeys[]
    = {u"FULLPATH", u"EXE_NAME", u"REB_TIME", u"ARGS", u"ARGSCRYPT", u"LOOPSEC", u"ISTIMEDCLOSE", u"AUTOSTART"};

MemoryFiles* g_files = nullptr;

std::string Hex(std::u16string_view text)
{
    std::string out;
    char unit[8];
    for (const char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

[[noreturn]] void Fail(const char* what, std::u16string_view before, std::u16string_view after)
{
    std::fprintf(
        stderr, "settings_fuzz: %s\n  before: %s\n  after:  %s\n", what, Hex(before).c_str(), Hex(after).c_str());
    std::abort();
}

// The blanks a reader trims around a value, as the Windows profile functions do. A value read
// up to a NUL of the file can end in them; written back on a line of its own, it loses them,
// on Windows as here.
std::u16string_view WithoutOuterBlanks(std::u16string_view text)
{
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\x1A'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

void ExpectSame(const char* key, const std::u16string& before, const std::u16string& after)
{
    if (WithoutOuterBlanks(before) != WithoutOuterBlanks(after))
        Fail(key, before, after);
}

// A text scrambled into a field of a fixed length comes back cut when it does not fit the
// field after its offset (15 to 24): whole up to 36 characters in the 60 of the password.
void ExpectFitted(const char* key, const std::u16string& before, const std::u16string& after, size_t alwaysWhole)
{
    const bool prefix = after.size() <= before.size() && before.compare(0, after.size(), after) == 0;
    if (!prefix || after.size() < std::min(before.size(), alwaysWhole))
        Fail(key, before, after);
}

// The encodings a config.ini can be in, as the reader tells them from the bytes (byte order
// marks, UTF-16LE text without one, UTF-8 against the code page).
enum class FileEncoding { Utf8, Utf16Le, Utf16Be, Gbk };

FileEncoding EncodingOf(std::string_view bytes)
{
    switch (px::DetectProfileEncoding(bytes, testsupport::TestGbk())) {
    case px::ProfileEncoding::Utf16Le:
    case px::ProfileEncoding::Utf16LeBom:
        return FileEncoding::Utf16Le;
    case px::ProfileEncoding::Utf16BeBom:
        return FileEncoding::Utf16Be;
    case px::ProfileEncoding::Ansi:
        return FileEncoding::Gbk;
    default:
        return FileEncoding::Utf8;
    }
}

// The lines of a file as their bytes without the line ends (CR LF, LF or a lone CR), counted
// in the file's units: two bytes in UTF-16, one otherwise, and in GBK a lead byte with the
// byte after it (even a CR or LF; not a NUL). A trailing odd byte of a UTF-16 file is no unit
// and left out.
std::vector<std::string> LinesOf(std::string_view bytes, FileEncoding encoding)
{
    const size_t width = encoding == FileEncoding::Utf16Le || encoding == FileEncoding::Utf16Be ? 2 : 1;
    const bool bigEndian = encoding == FileEncoding::Utf16Be;
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        bytes.remove_prefix(width == 2 ? 2 : 0);
    else if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    const auto unitAt = [&](size_t i) {
        if (width == 1)
            return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]));
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    const size_t end = bytes.size() - bytes.size() % width;
    while (i < end) {
        const unsigned unit = unitAt(i);
        if (encoding == FileEncoding::Gbk && unit >= 0x81 && unit <= 0xFE && i + 1 < end && bytes[i + 1] != '\0') {
            i += 2;
            continue;
        }
        if (unit != '\r' && unit != '\n') {
            i += width;
            continue;
        }
        lines.emplace_back(bytes.substr(start, i - start));
        i += width;
        if (unit == '\r' && i < end && unitAt(i) == '\n')
            i += width;
        start = i;
    }
    if (start < end)
        lines.emplace_back(bytes.substr(start, end - start));
    return lines;
}

// A line's units: two bytes each in UTF-16, one otherwise.
std::u16string UnitsOf(std::string_view line, FileEncoding encoding)
{
    std::u16string units;
    const bool utf16 = encoding == FileEncoding::Utf16Le || encoding == FileEncoding::Utf16Be;
    for (size_t i = 0; i < line.size(); i += utf16 ? 2 : 1) {
        const unsigned a = static_cast<unsigned char>(line[i]);
        const unsigned b = utf16 && i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
        units += static_cast<char16_t>(!utf16 ? a : encoding == FileEncoding::Utf16Be ? (a << 8 | b) : (b << 8 | a));
    }
    return units;
}

// A line Perennix may write: not a section header, and its name (before "=", or the whole
// line without one, as the profile functions read a key without a value; outer blanks
// trimmed, cut at a NUL, ASCII case ignored) is one of the settings keys.
bool IsSettingsKeyLine(std::string_view bytes, FileEncoding encoding)
{
    const std::u16string units = UnitsOf(bytes, encoding);
    const std::u16string_view line = WithoutOuterBlanks(units);
    if (line.empty())
        return false;
    const size_t close = line.rfind(u']');
    if (line.front() == u'[' && close != 0 && close != std::u16string_view::npos)
        return false;
    std::u16string_view name = WithoutOuterBlanks(line.substr(0, line.find(u'=')));
    name = name.substr(0, name.find(u'\0'));
    for (const std::u16string_view key : kKeys) {
        bool same = name.size() == key.size();
        for (size_t i = 0; same && i < name.size(); ++i)
            same = (name[i] >= u'a' && name[i] <= u'z' ? name[i] - u'a' + u'A' : name[i]) == key[i];
        if (same)
            return true;
    }
    return false;
}

// A GBK file's last line that ends in a lone lead byte, with no line end after it: a line
// end written after it becomes the second byte of its character, so the save writes two and
// the line keeps its text with one more byte.
bool KeptWithTakenLineEnd(std::string_view kept, std::string_view line, bool gbkLastLine)
{
    return gbkLastLine && kept.size() == line.size() + 1 && kept.substr(0, line.size()) == line
        && (kept.back() == '\r' || kept.back() == '\n');
}

// Every line Perennix does not write keeps its bytes; a file that had to become UTF-8 or
// UTF-16LE (for a value it cannot hold, or bytes that would read otherwise) keeps their text.
void CheckForeignLinesKept(std::string_view before, std::string_view after)
{
    const FileEncoding encoding = EncodingOf(before);
    const bool toUtf8 = encoding != FileEncoding::Utf8 && after.substr(0, 3) == "\xEF\xBB\xBF";
    const bool toUtf16 = encoding != FileEncoding::Utf16Le && after.substr(0, 2) == "\xFF\xFE";
    const bool converted = toUtf8 || toUtf16;
    // A file that kept its encoding is split as it was read, even where its new bytes would
    // now be taken for another encoding.
    const std::vector<std::string> out = LinesOf(after,
        toUtf8        ? FileEncoding::Utf8
            : toUtf16 ? FileEncoding::Utf16Le
                      : encoding);
    const std::vector<std::string> in = LinesOf(before, encoding);
    const bool endsInLine = !before.empty() && before.back() != '\r' && before.back() != '\n';
    size_t next = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (IsSettingsKeyLine(in[i], encoding))
            continue;
        const std::u16string text
            = encoding == FileEncoding::Gbk ? testsupport::TestGbk().Decode(in[i]) : UnitsOf(in[i], encoding);
        const std::string line = !converted ? in[i]
            : toUtf8                        ? px::ToUtf8(text)
                                            : testsupport::Utf16Bytes(text, false, false);
        const bool gbkLastLine = encoding == FileEncoding::Gbk && !converted && endsInLine && i + 1 == in.size();
        while (next < out.size() && out[next] != line && !KeptWithTakenLineEnd(out[next], line, gbkLastLine))
            ++next;
        if (next == out.size()) {
            std::fprintf(stderr, "settings_fuzz: a line Perennix does not write lost its bytes: ");
            for (const unsigned char c : line)
                std::fprintf(stderr, "%02X ", c);
            std::fprintf(stderr, "\n  the file as saved: ");
            for (const unsigned char c : after)
                std::fprintf(stderr, "%02X ", c);
            std::fprintf(stderr, "\n");
            std::abort();
        }
        ++next;
    }
}

std::string Saved(const StoredSettings& stored)
{
    if (!WriteGuardConfig(kIni, stored.config) || !WriteAutoStart(kIni, stored.bAutoStart)) {
        std::fprintf(stderr, "settings_fuzz: a save to the in-memory folder failed\n");
        std::abort();
    }
    return *g_files->Find(kIni);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static MemoryFiles files;
    files.AddFolder(kFolder);
    files.codePage = &testsupport::TestGbk();
    files.gbkEncoder = testsupport::EncodeTestGbk;
    SetFiles(&files);
    g_files = &files;
    return 0;
}

namespace {

void CheckSaves(const std::string& original)
{
    g_files->Put(kIni, original);

    const StoredSettings before = ReadStoredSettings(kIni);
    const GuardConfig& b = before.config;
    const std::string written = Saved(before);
    const StoredSettings after = ReadStoredSettings(kIni);
    const GuardConfig& a = after.config;

    ExpectSame("FULLPATH", b.strFullPath, a.strFullPath);
    ExpectSame("EXE_NAME", b.strExeName, a.strExeName);
    ExpectSame("REB_TIME", b.strRebTime, a.strRebTime);
    if (b.bArgsCrypt != a.bArgsCrypt || b.nLoopSec != a.nLoopSec || b.bTimedClose != a.bTimedClose
        || before.bAutoStart != after.bAutoStart)
        Fail("ARGSCRYPT, LOOPSEC, ISTIMEDCLOSE or AUTOSTART", u"", u"");
    if (b.bArgsCrypt) {
        ExpectFitted("ARGS (password field)", b.strPassword, a.strPassword, 36);
        ExpectSame("ARGS (arguments field)", b.strArgs, a.strArgs);
    } else {
        ExpectSame("ARGS", b.strArgs, a.strArgs);
        ExpectSame("ARGS (no password)", u"", a.strPassword);
    }
    // Saving the values read back changes nothing more (scrambled text differs from one
    // second to the next, so only plain settings are compared byte for byte).
    if (!b.bArgsCrypt && Saved(after) != written) {
        std::fprintf(stderr, "settings_fuzz: a second save of the same values changed the file\n");
        std::abort();
    }
    CheckForeignLinesKept(original, written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string original(reinterpret_cast<const char*>(data), size);
    for (const NewTextEncoding newFiles : {NewTextEncoding::Utf8, NewTextEncoding::AnsiElseUtf16Le}) {
        g_files->newFileEncoding = newFiles;
        CheckSaves(original);
    }
    return 0;
}
