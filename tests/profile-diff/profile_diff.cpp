// The differential test of the settings file reader against the Windows profile functions
// (Wine's, run by run.sh):
//   profile_diff prepare CORPUS OUTDIR   writes the corpus files and the query list
//   profile_diff compare CORPUS DIFFERENCES OUTDIR
//                                        reads what the Windows functions returned
//                                        (OUTDIR/windows.txt), reads the same with the
//                                        program's reader and compares: every read agrees or
//                                        is listed in DIFFERENCES; anything else fails.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "TempDir.h"
#include "backends/posix/Cp936.h"
#include "base/Unicode.h"
#include "settings/ProfileFile.h"

namespace {

namespace fs = std::filesystem;

constexpr char16_t kSection[] = u"PX_SETTING";
constexpr char16_t kStringDefault[] = u"<default>";
constexpr int kIntDefault = -7777;

struct Read {
    std::string file;
    std::string key;  // "KEY", or "SECTION:KEY" for another section than PX_SETTING
};

struct Corpus {
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
    std::vector<Read> reads;
};

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "profile_diff: %s\n", message.c_str());
    std::exit(2);
}

int HexDigits(const std::string& text, size_t pos, size_t count)
{
    if (pos + count > text.size())
        Fail("short escape in \"" + text + "\"");
    return std::stoi(text.substr(pos, count), nullptr, 16);
}

// Walks the content of a corpus line: text stands for itself (onText gets its UTF-8), \r \n
// \t \0 \\ for their characters, \xNN for the byte or unit NN, \uNNNN for a unit (onEscape
// gets the value and whether it came from \u).
template <class OnText, class OnEscape> void Walk(const std::string& content, OnText onText, OnEscape onEscape)
{
    for (size_t i = 0; i < content.size();) {
        if (content[i] != '\\') {
            size_t next = content.find('\\', i);
            if (next == std::string::npos)
                next = content.size();
            onText(content.substr(i, next - i));
            i = next;
            continue;
        }
        const char kind = i + 1 < content.size() ? content[i + 1] : '\0';
        switch (kind) {
        case 'r':
            onEscape(u'\r', false);
            break;
        case 'n':
            onEscape(u'\n', false);
            break;
        case 't':
            onEscape(u'\t', false);
            break;
        case '0':
            onEscape(u'\0', false);
            break;
        case '\\':
            onEscape(u'\\', false);
            break;
        case 'x':
            onEscape(static_cast<char16_t>(HexDigits(content, i + 2, 2)), false);
            i += 2;
            break;
        case 'u':
            onEscape(static_cast<char16_t>(HexDigits(content, i + 2, 4)), true);
            i += 4;
            break;
        default:
            Fail("unknown escape in \"" + content + "\"");
        }
        i += 2;
    }
}

// The content as UTF-16 units (\xNN is the unit NN).
std::u16string Units(const std::string& content)
{
    std::u16string units;
    Walk(
        content, [&](const std::string& text) { units += px::FromUtf8(text); },
        [&](char16_t unit, bool) { units += unit; });
    return units;
}

// The content as bytes: text as UTF-8, \xNN as the byte NN, \uNNNN as the unit's UTF-8.
std::string Bytes(const std::string& content)
{
    std::string bytes;
    Walk(
        content, [&](const std::string& text) { bytes += text; },
        [&](char16_t unit, bool isUnit) {
            bytes += isUnit ? px::ToUtf8(std::u16string(1, unit)) : std::string(1, static_cast<char>(unit));
        });
    return bytes;
}

// A file the program writes anew where new files are the code page's (Windows): the
// content's "KEY=VALUE" lines set in [PX_SETTING] of an empty file. Each value must read back
// as set, here; the Windows side must then read the same.
std::string NewWindowsFile(const std::u16string& content)
{
    static const Cp936CodePage cp936;
    px::ParsedProfile profile = px::ParsedProfile::Parse("", cp936, NewTextEncoding::AnsiElseUtf16Le);
    std::vector<std::pair<std::u16string, std::u16string>> values;
    for (size_t start = 0; start <= content.size();) {
        size_t end = content.find(u'\n', start);
        if (end == std::u16string::npos)
            end = content.size();
        const std::u16string line = content.substr(start, end - start);
        const size_t equals = line.find(u'=');
        if (equals == std::u16string::npos)
            Fail("not KEY=VALUE: " + px::ToUtf8(line));
        values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        profile.Set(kSection, values.back().first, values.back().second);
        start = end + 1;
    }
    std::string bytes = profile.Bytes();
    const px::ParsedProfile written = px::ParsedProfile::Parse(bytes, cp936, NewTextEncoding::AnsiElseUtf16Le);
    for (const auto& [key, value] : values)
        if (written.GetString(kSection, key, kStringDefault) != value)
            Fail("a new file does not read back " + px::ToUtf8(key) + " as written");
    return bytes;
}

std::string FileBytes(const std::string& encoding, const std::string& content)
{
    if (encoding == "bytes")
        return Bytes(content);
    if (encoding == "utf8bom")
        return "\xEF\xBB\xBF" + Bytes(content);
    if (encoding == "utf16le")
        return testsupport::Utf16Bytes(Units(content), false, true);
    if (encoding == "utf16le-nobom")
        return testsupport::Utf16Bytes(Units(content), false, false);
    if (encoding == "utf16be")
        return testsupport::Utf16Bytes(Units(content), true, true);
    if (encoding == "new-windows")
        return NewWindowsFile(Units(content));
    Fail("unknown encoding " + encoding);
}

// "file NAME ENCODING CONTENT" lines, each followed by "read KEY..." lines.
Corpus LoadCorpus(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        Fail("cannot read " + path);
    Corpus corpus;
    std::string line;
    std::set<std::string> names;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "file") {
            std::string name;
            std::string encoding;
            words >> name >> encoding;
            if (!names.insert(name).second)
                Fail("two files named " + name);
            std::string content;
            std::getline(words, content);
            if (!content.empty() && content[0] == ' ')
                content.erase(0, 1);
            corpus.files.emplace_back(name, FileBytes(encoding, content));
        } else if (word == "read") {
            if (corpus.files.empty())
                Fail("a read before any file");
            while (words >> word)
                corpus.reads.push_back({corpus.files.back().first, word});
        } else {
            Fail("unknown line: " + line);
        }
    }
    return corpus;
}

std::pair<std::u16string, std::u16string> SectionAndKey(const std::string& key)
{
    const size_t colon = key.find(':');
    if (colon == std::string::npos)
        return {kSection, px::FromUtf8(key)};
    return {px::FromUtf8(key.substr(0, colon)), px::FromUtf8(key.substr(colon + 1))};
}

std::string Hex(const std::u16string& text)
{
    std::string hex;
    char unit[8];
    for (const char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex;
}

// Shows a value for the report: printable ASCII as it is, anything else as \uNNNN.
std::string Shown(const std::string& hex)
{
    std::string shown;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
        const int unit = std::stoi(hex.substr(i, 4), nullptr, 16);
        if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            shown += escaped;
        }
    }
    return "\"" + shown + "\"";
}

int Prepare(const std::string& corpusPath, const fs::path& out)
{
    const Corpus corpus = LoadCorpus(corpusPath);
    fs::create_directories(out / "files");
    for (const auto& [name, bytes] : corpus.files) {
        std::ofstream file(out / "files" / (name + ".ini"), std::ios::binary | std::ios::trunc);
        file << bytes;
    }
    // Wine sees the root of the Linux file system as drive Z:.
    std::ofstream queries(out / "queries.txt", std::ios::binary | std::ios::trunc);
    for (const Read& read : corpus.reads) {
        std::string path = "Z:" + fs::absolute(out / "files" / (read.file + ".ini")).string();
        for (char& c : path)
            if (c == '/')
                c = '\\';
        const auto [section, key] = SectionAndKey(read.key);
        queries << path << '\t' << px::ToUtf8(section) << '\t' << px::ToUtf8(key) << '\n';
    }
    std::printf("profile_diff: %zu files, %zu keys, %zu reads\n", corpus.files.size(), corpus.reads.size(),
        corpus.reads.size() * 2);
    return 0;
}

// "NAME KEY str|int  reason" lines.
std::map<std::tuple<std::string, std::string, std::string>, std::string> LoadDifferences(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        Fail("cannot read " + path);
    std::map<std::tuple<std::string, std::string, std::string>, std::string> differences;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string name;
        std::string key;
        std::string kind;
        words >> name >> key >> kind;
        std::string reason;
        std::getline(words, reason);
        if (kind != "str" && kind != "int")
            Fail("bad difference line: " + line);
        differences[{name, key, kind}] = reason;
    }
    return differences;
}

int Compare(const std::string& corpusPath, const std::string& differencesPath, const fs::path& out)
{
    const Corpus corpus = LoadCorpus(corpusPath);
    auto differences = LoadDifferences(differencesPath);
    std::ifstream windows(out / "windows.txt");
    std::string line;
    if (!std::getline(windows, line) || line != "ACP 936")
        Fail("the Windows side did not run with code page 936: \"" + line + "\"");

    std::map<std::string, std::string> bytesOf(corpus.files.begin(), corpus.files.end());
    const Cp936CodePage cp936;
    std::ofstream report(out / "report.txt", std::ios::trunc);
    int agree = 0;
    int listed = 0;
    int unlisted = 0;
    for (const Read& read : corpus.reads) {
        const px::ParsedProfile profile = px::ParsedProfile::Parse(bytesOf[read.file], cp936);
        const auto [section, key] = SectionAndKey(read.key);
        const std::string ours[] = {
            Hex(profile.GetString(section, key, kStringDefault)),
            std::to_string(profile.GetInt(section, key, kIntDefault)),
        };
        const char* kinds[] = {"str", "int"};
        for (int i = 0; i < 2; ++i) {
            std::string theirs;
            if (!std::getline(windows, line) || line.size() < 2 || line[0] != (i == 0 ? 'S' : 'I'))
                Fail("the Windows side's answers end early");
            theirs = line.substr(2);
            const auto listedAt = differences.find({read.file, read.key, kinds[i]});
            const bool same = ours[i] == theirs;
            const std::string oursShown = i == 0 ? Shown(ours[i]) : ours[i];
            const std::string theirsShown = i == 0 ? Shown(theirs) : theirs;
            std::string status;
            if (same && listedAt == differences.end()) {
                ++agree;
                status = "agrees";
            } else if (!same && listedAt != differences.end()) {
                ++listed;
                status = "differs as listed:" + listedAt->second;
            } else if (same) {
                ++unlisted;
                status = "AGREES BUT IS LISTED AS A DIFFERENCE";
            } else {
                ++unlisted;
                status = "NEW DIFFERENCE";
            }
            if (listedAt != differences.end())
                differences.erase(listedAt);
            report << read.file << ' ' << read.key << ' ' << kinds[i] << ": perennix " << oursShown << ", windows "
                   << theirsShown << ": " << status << '\n';
            if (status.rfind("differs", 0) != 0 && status != "agrees")
                std::fprintf(stderr, "%s %s %s: perennix %s, windows %s: %s\n", read.file.c_str(), read.key.c_str(),
                    kinds[i], oursShown.c_str(), theirsShown.c_str(), status.c_str());
        }
    }
    for (const auto& [where, reason] : differences) {
        ++unlisted;
        std::fprintf(stderr, "listed difference without a read: %s %s %s\n", std::get<0>(where).c_str(),
            std::get<1>(where).c_str(), std::get<2>(where).c_str());
    }
    std::printf("profile_diff: %zu files, %d reads: %d agree, %d differ as listed, %d not as listed (%s)\n",
        corpus.files.size(), agree + listed + unlisted, agree, listed, unlisted, (out / "report.txt").c_str());
    return unlisted == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "prepare")
        return Prepare(args[1], args[2]);
    if (args.size() == 4 && args[0] == "compare")
        return Compare(args[1], args[2], args[3]);
    std::fprintf(stderr, "usage: profile_diff prepare CORPUS OUTDIR | compare CORPUS DIFFERENCES OUTDIR\n");
    return 2;
}
