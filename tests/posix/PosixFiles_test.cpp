// The Linux file services: whole-file reads, the atomic replace and its modes, the
// readability check and GBK decoding.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include "TempDir.h"
#include "platform/posix/PosixFiles.h"

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
    EXPECT_FALSE(files.WriteFileAtomically(dir.File("missing-folder/config.ini"), "x"));
    EXPECT_FALSE(files.WriteFileAtomically(u"", "x"));
    fs::create_directory(dir.Path() / "sub");
    EXPECT_FALSE(files.WriteFileAtomically(dir.File("sub"), "x"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "sub"));
    EXPECT_EQ(Names(), std::vector<std::string>{"sub"});
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
    const bool written = files.WriteFileAtomically(file, std::string(4096, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(file), "[PX_SETTING]\r\nFULLPATH=/opt/app\r\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"config.ini"});
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

TEST(AnsiCodePage, DecodesGbkAndRefusesWhatIsNot)
{
    PosixFiles files;
    EXPECT_EQ(files.DecodeAnsiCodePage(""), u"");
    EXPECT_EQ(files.DecodeAnsiCodePage("config"), u"config");
    EXPECT_EQ(files.DecodeAnsiCodePage("\xD6\xD0\xCE\xC4=\xC2\xB7\xBE\xB6"), u"中文=路径");
    EXPECT_EQ(files.DecodeAnsiCodePage("\x80"), u"\u20AC");  // code page 936's euro sign
    EXPECT_EQ(files.DecodeAnsiCodePage("ab\xD6"), std::nullopt);  // cut double-byte character
    EXPECT_EQ(files.DecodeAnsiCodePage("\xFF"), std::nullopt);
}

}  // namespace
