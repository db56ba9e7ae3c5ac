// The Linux file services: whole-file reads, the atomic replace and its modes, the
// readability check and GBK decoding.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "TempDir.h"
#include "backends/posix/PosixFiles.h"
#include "backends/posix/PosixHandles.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

class PosixFilesTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    PosixFiles files;

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::perms Mode(const std::u16string& path) const
    {
        return fs::status(testsupport::NativePath(path)).permissions() & fs::perms::mask;
    }
};

TEST_F(PosixFilesTest, ReadsExactlyTheBytesOfARegularFileOnly)
{
    const std::u16string file = dir.File("data.bin");
    const std::string bytes("a\0\xFF\r\nz", 6);
    WriteBytes(file, bytes);
    EXPECT_EQ(files.ReadWholeFile(file), bytes);

    WriteBytes(dir.File("empty"), "");
    EXPECT_EQ(files.ReadWholeFile(dir.File("empty")), "");
    EXPECT_EQ(files.ReadWholeFile(dir.File("missing")), std::nullopt);
    EXPECT_EQ(files.ReadWholeFile(dir.Text()), std::nullopt);
    EXPECT_EQ(files.ReadWholeFile(u""), std::nullopt);

    // A named pipe without a writer neither blocks nor counts as a file.
    const std::u16string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(testsupport::NativePath(fifo).c_str(), 0600), 0);
    EXPECT_EQ(files.ReadWholeFile(fifo), std::nullopt);
    EXPECT_TRUE(files.PathExists(fifo));
}

TEST_F(PosixFilesTest, PathExistsForFilesFoldersAndDanglingLinks)
{
    WriteBytes(dir.File("f"), "x");
    fs::create_symlink(dir.Path() / "nowhere", dir.Path() / "link");
    EXPECT_TRUE(files.PathExists(dir.File("f")));
    EXPECT_TRUE(files.PathExists(dir.Text()));
    EXPECT_TRUE(files.PathExists(dir.File("link")));
    EXPECT_FALSE(files.PathExists(dir.File("missing")));
    EXPECT_FALSE(files.PathExists(u""));
}

TEST_F(PosixFilesTest, NewFileIsOwnerOnlyAndLeavesNoTemporaryBehind)
{
    const std::u16string file = dir.File("config.ini");
    ASSERT_TRUE(files.WriteFileAtomically(file, "KEY=1\r\n"));
    EXPECT_EQ(ReadBytes(file), "KEY=1\r\n");
    EXPECT_EQ(Mode(file), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(), std::vector<std::string>{"config.ini"});
}

TEST_F(PosixFilesTest, ReplacedFileKeepsItsMode)
{
    const std::u16string file = dir.File("config.ini");
    WriteBytes(file, "old contents that are longer than the new ones");
    for (const fs::perms mode : {fs::perms(0644), fs::perms(0640), fs::perms(0604)}) {
        fs::permissions(testsupport::NativePath(file), mode);
        ASSERT_TRUE(files.WriteFileAtomically(file, "new"));
        EXPECT_EQ(ReadBytes(file), "new");
        EXPECT_EQ(Mode(file), mode);
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"config.ini"});
}

TEST_F(PosixFilesTest, WritesThroughASymbolicLink)
{
    fs::create_directory(dir.Path() / "real");
    const std::u16string target = dir.File("real/config.ini");
    WriteBytes(target, "old");
    fs::create_symlink(dir.Path() / "real" / "config.ini", dir.Path() / "config.ini");

    ASSERT_TRUE(files.WriteFileAtomically(dir.File("config.ini"), "new"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "config.ini"));
    EXPECT_EQ(ReadBytes(target), "new");
}

TEST_F(PosixFilesTest, RefusedWritesReportFailure)
{
    // The system's refusal is logged with the call and the reason; a refusal of our own
    // (no path, a folder in the file's place) is no failed call.
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(files.WriteFileAtomically(dir.File("missing-folder/config.ini"), "x"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        "perennix: mkostemp " + (dir / "missing-folder/.config.ini.XXXXXX") + " failed: 2 " + std::strerror(ENOENT)
            + "\n");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(files.WriteFileAtomically(u"", "x"));
    fs::create_directory(dir.Path() / "sub");
    EXPECT_FALSE(files.WriteFileAtomically(dir.File("sub"), "x"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fs::is_directory(dir.Path() / "sub"));
    EXPECT_EQ(Names(), std::vector<std::string>{"sub"});
}

// A save into a folder the user may not write (as root: a folder of root's, saved into as
// "nobody") says which call the system refused and why.
TEST_F(PosixFilesTest, ASaveIntoAReadOnlyFolderIsLogged)
{
    fs::create_directory(dir.Path() / "read-only");
    fs::permissions(dir.Path(), fs::perms(0755));
    fs::permissions(dir.Path() / "read-only", fs::perms(0555));
    ::testing::internal::CaptureStderr();
    const long written = pxtest::RunUnprivileged(
        [&] { return files.WriteFileAtomically(dir.File("read-only/config.ini"), "x") ? 1L : 0L; });
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, 0);
    EXPECT_EQ(logged,
        "perennix: mkostemp " + (dir / "read-only/.config.ini.XXXXXX") + " failed: 13 " + std::strerror(EACCES) + "\n");
}

// The run log: emptied at the start, every write at the file's end as it is then, so a log
// cut short from outside (logrotate's copytruncate) goes on at its new start, not behind a
// hole. A new log gets the mode a file stream gives it.
TEST_F(PosixFilesTest, RunLogIsEmptiedAndAppendedTo)
{
    fs::create_directory(dir.Path() / "日志 目录");
    const std::u16string path = dir.File("日志 目录/log.txt");
    WriteBytes(path, "the last run's log\r\n");
    std::unique_ptr<AppendFile> log = files.OpenRunLog(path);
    ASSERT_TRUE(log);
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_TRUE(log->Append("one\r\n"));
    EXPECT_TRUE(log->Append("two\r\n"));
    EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");
    fs::resize_file(testsupport::NativePath(path), 0);
    EXPECT_TRUE(log->Append("three\r\n"));
    EXPECT_EQ(ReadBytes(path), "three\r\n");

    const mode_t mask = ::umask(022);
    std::unique_ptr<AppendFile> fresh = files.OpenRunLog(dir.File("new.txt"));
    ::umask(mask);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(Mode(dir.File("new.txt")), fs::perms(0644));
}

// Only a regular file is the run log. A link is not followed (another user of a shared folder
// could have it name a file of this user's, which would be emptied), a named pipe does not
// hold the start (a writer's open waits for a reader) and gets nothing, nor does a folder.
// These are refusals: nothing is logged for them, only for a failed call.
TEST_F(PosixFilesTest, RunLogIsARegularFileOnly)
{
    const fs::path log = dir.Path() / "log.txt";
    const fs::path victim = dir.Path() / "victim.txt";
    WriteBytes(dir.File("victim.txt"), "this user's own file");
    const struct {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"a link to a file", [&] { fs::create_symlink(victim, log); }},
        {"a link to no file", [&] { fs::create_symlink(dir.Path() / "nowhere.txt", log); }},
        {"a named pipe", [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); }},
        {"a folder", [&] { fs::create_directory(log); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(log);
        c.make();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(files.OpenRunLog(dir.File("log.txt")), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
    // A pipe with a reader opens without waiting, and is refused all the same.
    fs::remove_all(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    const px::posix::UniqueFd pipeReader(::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(pipeReader.Valid());
    EXPECT_EQ(files.OpenRunLog(dir.File("log.txt")), nullptr);
    char byte = 0;
    EXPECT_LE(::read(pipeReader.Get(), &byte, 1), 0);

    EXPECT_EQ(ReadBytes(dir.File("victim.txt")), "this user's own file");
    EXPECT_FALSE(fs::exists(dir.Path() / "nowhere.txt"));

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(files.OpenRunLog(dir.File("missing/log.txt")), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        "perennix: open " + (dir / "missing/log.txt") + " failed: 2 " + std::strerror(ENOENT) + "\n");
}

// Asking for a file that is not there is answered, not failed: nothing is logged.
TEST_F(PosixFilesTest, AMissingFileIsNoFailure)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(files.ReadWholeFile(dir.File("missing")), std::nullopt);
    EXPECT_FALSE(files.PathExists(dir.File("missing")));
    EXPECT_FALSE(files.PathExists(dir.File("missing/below")));
    EXPECT_FALSE(files.CanOpenFileForReading(dir.File("missing")));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// A write that runs out of room (here: the file size limit, as a full disk would) fails,
// keeps the old file whole and removes its temporary file.
TEST_F(PosixFilesTest, FailedWriteKeepsTheOldFile)
{
    const std::u16string file = dir.File("config.ini");
    WriteBytes(file, "[PX_SETTING]\r\nFULLPATH=/opt/app\r\n");

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    // Standard error into a pipe meanwhile: the limit would cut a file that took it.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    const bool written = files.WriteFileAtomically(file, std::string(4096, 'x'));
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(pipeFds[1]);
    std::string logged(4096, '\0');
    logged.resize(static_cast<size_t>(std::max<ssize_t>(::read(pipeFds[0], logged.data(), logged.size()), 0)));
    ::close(pipeFds[0]);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    const std::string reason = " failed: 27 " + std::string(std::strerror(EFBIG)) + "\n";
    EXPECT_TRUE(logged.starts_with("perennix: write " + (dir / ".config.ini.")) && logged.ends_with(reason)
        && logged.find('\n') == logged.size() - 1)
        << logged;
    EXPECT_EQ(ReadBytes(file), "[PX_SETTING]\r\nFULLPATH=/opt/app\r\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"config.ini"});
}

// The temporary files a killed write left are removed by the next write: exactly the
// program's own name pattern, and never one that a write in progress holds.
TEST_F(PosixFilesTest, NextWriteRemovesStaleTemporaryFilesOnly)
{
    const std::u16string file = dir.File("config.ini");
    WriteBytes(file, "old");
    for (const char* name : {".config.ini.AbC123", ".config.ini.000000", ".config.ini.zzzzzz"})
        WriteBytes(dir.File(name), "left by a killed write");
    const std::vector<std::string> others
        = {".config.ini.Busy01", ".config.ini.abc", ".config.ini.ABCDEFG", ".config.ini.ab-123", "config.ini.AbC123",
            ".config.in.AbC123", ".config.ini.Dir123", ".config.ini.Lnk123", ".other.ini.AbC123", "config.ini.bak"};
    for (const std::string& name : others)
        WriteBytes(dir.File(name), "not ours");
    fs::remove(dir.Path() / ".config.ini.Dir123");
    fs::create_directory(dir.Path() / ".config.ini.Dir123");
    fs::remove(dir.Path() / ".config.ini.Lnk123");
    fs::create_symlink(dir.Path() / "config.ini.bak", dir.Path() / ".config.ini.Lnk123");
    // A write in progress holds a lock on its temporary file.
    const int busy = ::open(testsupport::NativePath(dir.File(".config.ini.Busy01")).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);

    ASSERT_TRUE(files.WriteFileAtomically(file, "new"));
    ::close(busy);
    std::vector<std::string> expected = others;
    expected.push_back("config.ini");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected);
    EXPECT_EQ(ReadBytes(file), "new");
}

// A save replaces the file: it keeps its owner and group where the process may set them.
TEST_F(PosixFilesTest, ReplacedFileKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    const std::u16string file = dir.File("config.ini");
    WriteBytes(file, "old");
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kNogroup = 65534;
    const std::string native = testsupport::NativePath(file);
    ASSERT_EQ(::chown(native.c_str(), kNobody, kNogroup), 0);
    ASSERT_TRUE(files.WriteFileAtomically(file, "new"));
    struct stat st { };
    ASSERT_EQ(::stat(native.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNogroup);
    EXPECT_EQ(ReadBytes(file), "new");
}

// A NUL would cut the path short for every system call: such a path names nothing, and
// nothing is written in place of the shorter one.
TEST_F(PosixFilesTest, APathWithANulNamesNoFile)
{
    const std::u16string program = dir.File("run");
    WriteBytes(program, "#!/bin/sh\n");
    const std::u16string cut = program + std::u16string(1, u'\0') + u"/junk";
    EXPECT_FALSE(files.CanOpenFileForReading(cut));
    EXPECT_EQ(files.ReadWholeFile(cut), std::nullopt);
    EXPECT_FALSE(files.PathExists(cut));
    EXPECT_FALSE(files.WriteFileAtomically(cut, "x"));
    EXPECT_EQ(ReadBytes(program), "#!/bin/sh\n");
}

TEST_F(PosixFilesTest, CanOpenForReadingOnlyReadableFiles)
{
    WriteBytes(dir.File("app.exe"), "MZ");
    WriteBytes(dir.File("empty"), "");
    fs::create_directory(dir.Path() / "目录");
    WriteBytes(dir.File("目录/程序.exe"), "MZ");
    const std::u16string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(testsupport::NativePath(fifo).c_str(), 0600), 0);

    EXPECT_TRUE(files.CanOpenFileForReading(dir.File("app.exe")));
    EXPECT_TRUE(files.CanOpenFileForReading(dir.File("empty")));
    EXPECT_TRUE(files.CanOpenFileForReading(dir.File("目录/程序.exe")));
    EXPECT_TRUE(files.CanOpenFileForReading(fifo));  // opens without waiting for a writer
    EXPECT_FALSE(files.CanOpenFileForReading(dir.File("目录")));
    EXPECT_FALSE(files.CanOpenFileForReading(dir.File("missing.exe")));
    EXPECT_FALSE(files.CanOpenFileForReading(u""));
}

// Code page 936 as Windows converts it (the values are what Wine's MultiByteToWideChar gives
// with code page 936): a bad character alone becomes '?', and the codes glibc's table lacks
// are the private-use characters Windows gives them.
TEST(AnsiCodePage, DecodesGbkAsWindowsDoes)
{
    PosixFiles files;
    const AnsiCodePage& cp = files.LegacyCodePage();
    struct Case {
        std::string bytes;
        std::u16string text;
        size_t invalid;
    };
    const Case cases[] = {
        {"", u"", 0},
        {"config", u"config", 0},
        {"\xD6\xD0\xCE\xC4=\xC2\xB7\xBE\xB6", u"中文=路径", 0},
        {"\x80", u"\u20AC", 0},  // the euro sign
        {"a\xFF"
         "b",
            u"a\uF8F5b", 0},
        {"\xA6\xD9\xFE\x50", u"\uE78D\uE815", 0},  // unassigned in GBK
        {"\xAA\xA1\xA1\x40\xA2\xA0\xD7\xFA", u"\uE000\uE4C6\uE585\uE810", 0},  // user-defined
        {"ab\xD6", u"ab?", 1},  // cut double-byte character
        {"\xD6\x30x", u"?x", 1},  // no such second byte: the pair is one '?'
        {"\xD6\x0A"
         "A",
            u"?A", 1},  // even a line end
        {std::string("\xD6\0A", 3), std::u16string(u"?\0A", 3), 1},
        {"\xD6\x7F\xD6\xFF", u"??", 2},
    };
    for (const Case& c : cases) {
        size_t invalid = 0;
        EXPECT_EQ(cp.Decode(c.bytes, &invalid), c.text) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(invalid, c.invalid) << ::testing::PrintToString(c.bytes);
    }
    EXPECT_TRUE(cp.IsLeadByte(0x81));
    EXPECT_TRUE(cp.IsLeadByte(0xFE));
    EXPECT_FALSE(cp.IsLeadByte(0x80));
    EXPECT_FALSE(cp.IsLeadByte(0xFF));
}

TEST(AnsiCodePage, EncodesWhatDecodesBackOnly)
{
    PosixFiles files;
    const AnsiCodePage& cp = files.LegacyCodePage();
    EXPECT_EQ(cp.Encode(u"D:\\实时\\系统.exe"), "D:\\\xCA\xB5\xCA\xB1\\\xCF\xB5\xCD\xB3.exe");
    EXPECT_EQ(cp.Encode(u"\u20AC\uF8F5\uE78D\u00E0"), "\x80\xFF\xA6\xD9\xA8\xA4");
    for (const std::u16string text : {u"\u0E01", u"\U0001F600", u"\xD800", u"a\u00E9\u0101\u0E01"})
        EXPECT_EQ(cp.Encode(text), std::nullopt) << px::ToUtf8(text);
    // Every character of the code page comes back from its bytes.
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string text = cp.Decode(bytes);
            ASSERT_EQ(text.size(), 1u);
            const std::optional<std::string> encoded = cp.Encode(text);
            ASSERT_TRUE(encoded.has_value()) << lead << " " << trail;
            EXPECT_EQ(cp.Decode(*encoded), text);
        }
    }
}

}  // namespace
