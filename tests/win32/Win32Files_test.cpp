// The Windows file service against real files: whole reads, atomic replacement, what exists
// and what opens, UTF-16 names, and the system's ANSI code page.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "Win32TestSupport.h"
#include "backends/win32/Win32Files.h"
#include "backends/win32/WinPrelude.h"
#include "base/Unicode.h"

namespace {

namespace fs = std::filesystem;

std::u16string U16(const fs::path& path)
{
    const std::wstring text = path.wstring();
    return std::u16string(text.begin(), text.end());
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

size_t EntriesIn(const fs::path& folder)
{
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class Win32FilesTest : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    // A folder with a Chinese name and a space: paths travel as UTF-16 all the way.
    fs::path m_folder = m_dir.Path() / L"设置 目录";
    Win32Files m_files;

    void SetUp() override { fs::create_directory(m_folder); }
};

TEST_F(Win32FilesTest, ReplacesAFileWholeAndLeavesNothingBeside)
{
    const fs::path file = m_folder / L"config.ini";
    const std::string first = "[PX_SETTING]\r\nFULLPATH=C:\\a\r\n";
    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), first));
    EXPECT_EQ(m_files.ReadWholeFile(U16(file)), first);

    const std::string second(100000, 'x');
    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), second));
    EXPECT_EQ(Read(file), second);
    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), ""));
    EXPECT_EQ(m_files.ReadWholeFile(U16(file)), "");
    EXPECT_EQ(EntriesIn(m_folder), 1u);  // no temporary file stays behind
}

// Each way of replacing keeps the old file's attributes: the rename Wine is given, and
// ReplaceFileW, which Windows is given.
TEST_F(Win32FilesTest, ReplacementKeepsTheOldFilesAttributes)
{
    const fs::path file = m_folder / L"config.ini";
    Write(file, "old");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    for (const Win32Files::Replacement replacement :
        {Win32Files::Replacement::Automatic, Win32Files::Replacement::Replace, Win32Files::Replacement::Rename}) {
        Win32Files files(replacement);
        const std::string bytes = "new " + std::to_string(static_cast<int>(replacement));
        ASSERT_TRUE(files.WriteFileAtomically(U16(file), bytes));
        EXPECT_EQ(Read(file), bytes);
        EXPECT_NE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
        EXPECT_EQ(EntriesIn(m_folder), 1u);
    }
}

// ReplaceFileW as it fails on Windows while a scanner or an indexer holds the new file: having
// done what takeAway does to the old file, or nothing, it returns error.
class FailingReplaceFile : public Win32Files {
public:
    FailingReplaceFile(DWORD error, std::function<void(const fs::path& old)> takeAway)
        : Win32Files(Replacement::Replace)
        , m_error(error)
        , m_takeAway(std::move(takeAway))
    {
    }

protected:
    bool ReplaceWithTemporary(const std::wstring& replaced, const std::wstring&) override
    {
        if (m_takeAway)
            m_takeAway(replaced);
        ::SetLastError(m_error);
        return false;
    }

private:
    DWORD m_error;
    std::function<void(const fs::path&)> m_takeAway;
};

// ERROR_UNABLE_TO_MOVE_REPLACEMENT: the old file is deleted and the new bytes are in the
// temporary file alone. It is moved in: the save succeeds, and the swallowed error is logged.
TEST_F(Win32FilesTest, ReplaceFileThatDeletedTheOldFileEndsWithTheNewOneInPlace)
{
    const fs::path file = m_folder / L"config.ini";
    Write(file, "old");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    FailingReplaceFile files(
        ERROR_UNABLE_TO_MOVE_REPLACEMENT, [](const fs::path& old) { ASSERT_TRUE(fs::remove(old)); });
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(files.WriteFileAtomically(U16(file), "new"));
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Read(file), "new");
    EXPECT_NE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(EntriesIn(m_folder), 1u);
    EXPECT_TRUE(logged.starts_with("perennix: ReplaceFileW " + px::ToUtf8(U16(file)) + " failed: 1176 ")) << logged;
}

// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file is renamed away. The new one is moved in, and
// the old bytes are where the system put them.
TEST_F(Win32FilesTest, ReplaceFileThatRenamedTheOldFileEndsWithTheNewOneInPlace)
{
    const fs::path file = m_folder / L"config.ini";
    const fs::path renamed = m_folder / L"config.ini.replaced";
    Write(file, "old");
    FailingReplaceFile files(
        ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, [&renamed](const fs::path& old) { fs::rename(old, renamed); });
    EXPECT_TRUE(files.WriteFileAtomically(U16(file), "new"));
    EXPECT_EQ(Read(file), "new");
    EXPECT_EQ(Read(renamed), "old");
    EXPECT_EQ(EntriesIn(m_folder), 2u);
}

// The old file is gone and the new one cannot be moved in either (here a folder has taken the
// name): the save fails, and the temporary file, the only copy of the new bytes, stays; no
// later save removes it while config.ini is missing.
TEST_F(Win32FilesTest, ReplaceFileThatLostTheOldFileKeepsTheNewOneWhenItCannotBeMovedIn)
{
    const fs::path file = m_folder / L"config.ini";
    Write(file, "old");
    FailingReplaceFile files(ERROR_UNABLE_TO_MOVE_REPLACEMENT, [](const fs::path& old) {
        ASSERT_TRUE(fs::remove(old));
        ASSERT_TRUE(fs::create_directory(old));
    });
    EXPECT_FALSE(files.WriteFileAtomically(U16(file), "new"));
    ASSERT_TRUE(fs::remove(file));
    std::vector<fs::path> kept;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder))
        kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Read(kept[0]), "new");

    // A save makes config.ini anew and leaves the kept file; the next one removes it.
    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), "newer"));
    EXPECT_EQ(Read(kept[0]), "new");
    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), "newest"));
    EXPECT_FALSE(fs::exists(kept[0]));
    EXPECT_EQ(Read(file), "newest");
    EXPECT_EQ(EntriesIn(m_folder), 1u);
}

// Any other failure leaves the old file as it was and removes the temporary file.
TEST_F(Win32FilesTest, ReplaceFileThatLeftTheOldFileFailsTheSaveAndRemovesTheNewOne)
{
    const fs::path file = m_folder / L"config.ini";
    Write(file, "old");
    for (const DWORD error : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_DISK_FULL}}) {
        FailingReplaceFile files(error, nullptr);
        EXPECT_FALSE(files.WriteFileAtomically(U16(file), "new")) << error;
        EXPECT_EQ(Read(file), "old");
        EXPECT_EQ(EntriesIn(m_folder), 1u);
    }
}

TEST_F(Win32FilesTest, AFailedWriteLeavesEverythingAsItWas)
{
    // No such folder; a folder in the file's place; a read-only file.
    EXPECT_FALSE(m_files.WriteFileAtomically(U16(m_folder / L"missing" / L"config.ini"), "x"));
    EXPECT_FALSE(fs::exists(m_folder / L"missing"));
    EXPECT_FALSE(m_files.WriteFileAtomically(U16(m_folder), "x"));
    EXPECT_TRUE(fs::is_directory(m_folder));
    const fs::path locked = m_folder / L"locked.ini";
    Write(locked, "old");
    ASSERT_TRUE(::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(m_files.WriteFileAtomically(U16(locked), "new"));
    ::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Read(locked), "old");
    EXPECT_EQ(EntriesIn(m_folder), 1u);
    EXPECT_FALSE(m_files.WriteFileAtomically(u"", "x"));
}

// A save the system refuses leaves a line on standard error with the call, the file and the
// system's code; a refusal of our own (a folder in the file's place) and a file that is not
// there when it is read or asked after leave none.
TEST_F(Win32FilesTest, ARefusedSaveIsLoggedAndAMissingFileIsNot)
{
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_files.WriteFileAtomically(U16(m_folder / L"missing" / L"config.ini"), "x"));
    const std::string logged = ::testing::internal::GetCapturedStderr();
    const std::string start = "perennix: CreateFileW " + px::ToUtf8(U16(m_folder / L"missing" / L".config.ini."));
    EXPECT_TRUE(logged.starts_with(start) && logged.find(".tmp failed: 3 ") != std::string::npos
        && logged.find('\n') == logged.size() - 1)
        << logged;

    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_files.WriteFileAtomically(U16(m_folder), "x"));
    EXPECT_EQ(m_files.ReadWholeFile(U16(m_folder / L"missing.ini")), std::nullopt);
    EXPECT_EQ(m_files.ReadWholeFile(U16(m_folder / L"missing" / L"config.ini")), std::nullopt);
    EXPECT_EQ(m_files.ReadWholeFile(U16(m_folder)), std::nullopt);
    EXPECT_FALSE(m_files.PathExists(U16(m_folder / L"missing.ini")));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// The run log: emptied at the start, every write at the file's end as it is then, so a log
// cut short from outside goes on at its new start, not behind a hole; readable (and
// writable) by others meanwhile. A folder in its place is refused without a failure, a
// missing folder is a failure. (A symbolic link or junction in its place is refused by its
// reparse point attribute: Wine has no reparse points and shows a Unix link as the file it
// names, so that refusal is not shown here.)
TEST_F(Win32FilesTest, RunLogIsEmptiedAndAppendedTo)
{
    const fs::path path = m_folder / L"log.txt";
    Write(path, "the last run's log\r\n");
    std::unique_ptr<AppendFile> log = m_files.OpenRunLog(U16(path));
    ASSERT_TRUE(log);
    EXPECT_EQ(Read(path), "");
    EXPECT_TRUE(log->Append("one\r\n"));
    EXPECT_TRUE(log->Append("two\r\n"));
    EXPECT_EQ(Read(path), "one\r\ntwo\r\n");
    HANDLE other = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::SetEndOfFile(other));  // cut short while the log is open
    ::CloseHandle(other);
    EXPECT_TRUE(log->Append("three\r\n"));
    EXPECT_EQ(Read(path), "three\r\n");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(m_files.OpenRunLog(U16(m_folder)), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(m_files.OpenRunLog(U16(m_folder / L"missing" / L"log.txt")), nullptr);
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(logged.starts_with(
                    "perennix: CreateFileW " + px::ToUtf8(U16(m_folder / L"missing" / L"log.txt")) + " failed: 3 ")
        && logged.find('\n') == logged.size() - 1)
        << logged;
}

// The temporary files a killed write left are removed by the next write: exactly the
// service's own name pattern, plain files only, and never one whose writer still runs.
TEST_F(Win32FilesTest, NextWriteRemovesStaleTemporaryFilesOnly)
{
    pxtest::StartedProcess writer(pxtest::HelperPath(), L"sleep");
    ASSERT_TRUE(writer.Started());
    const std::wstring own = std::to_wstring(::GetCurrentProcessId());
    const fs::path file = m_folder / L"config.ini";
    Write(file, "old");
    // Process ids are multiples of 4: 4294967291 names no process.
    for (const std::wstring& name :
        std::vector<std::wstring>{L".config.ini.4294967291-1.tmp", L".config.ini." + own + L"-7.tmp"})
        Write(m_folder / name, "left by a killed write");
    const std::vector<std::wstring> others
        = {L".config.ini." + std::to_wstring(writer.Pid()) + L"-1.tmp", L".config.ini.4294967291-1.tmp.bak",
            L".config.ini.4294967291.tmp", L".config.ini.x-1.tmp", L".config.ini.99999999999-1.tmp",
            L"config.ini.4294967291-1.tmp", L".other.ini.4294967291-1.tmp", L".config.ini.4294967291-2.tmp"};
    for (const std::wstring& name : others)
        Write(m_folder / name, "not ours to remove");
    fs::remove(m_folder / others.back());
    fs::create_directory(m_folder / others.back());

    ASSERT_TRUE(m_files.WriteFileAtomically(U16(file), "new"));
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder))
        names.push_back(entry.path().filename().wstring());
    std::vector<std::wstring> expected = others;
    expected.push_back(L"config.ini");
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(Read(file), "new");
}

TEST_F(Win32FilesTest, ReadsOnlyFilesAndWhileAnotherProgramWritesThem)
{
    const fs::path file = m_folder / L"log.txt";
    Write(file, "line\r\n");
    // Another program holds it open for writing, sharing it as a log writer does.
    HANDLE writer = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_files.ReadWholeFile(U16(file)), "line\r\n");
    EXPECT_TRUE(m_files.CanOpenFileForReading(U16(file)));
    ::CloseHandle(writer);

    EXPECT_EQ(m_files.ReadWholeFile(U16(m_folder)), std::nullopt);
    EXPECT_EQ(m_files.ReadWholeFile(U16(m_folder / L"missing.txt")), std::nullopt);
}

TEST_F(Win32FilesTest, TellsWhatExistsFromWhatOpensForReading)
{
    const fs::path file = m_folder / L"程序.exe";
    Write(file, "MZ");
    struct Case {
        fs::path path;
        bool exists;
        bool opens;
    };
    const Case cases[] = {
        {file, true, true},
        {m_folder, true, false},
        {m_folder / L"missing.exe", false, false},
        {m_folder / L"missing" / L"a.exe", false, false},
        {fs::path(), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_files.PathExists(U16(c.path)), c.exists) << c.path;
        EXPECT_EQ(m_files.CanOpenFileForReading(U16(c.path)), c.opens) << c.path;
    }
    // A NUL inside would end the path at the real file before it: no such file, none written.
    const std::u16string withNul = U16(file) + std::u16string(1, u'\0') + u"\\junk";
    EXPECT_FALSE(m_files.PathExists(withNul));
    EXPECT_FALSE(m_files.CanOpenFileForReading(withNul));
    EXPECT_EQ(m_files.ReadWholeFile(withNul), std::nullopt);
    EXPECT_FALSE(m_files.WriteFileAtomically(withNul, "x"));
    EXPECT_EQ(Read(file), "MZ");
}

TEST_F(Win32FilesTest, DecodesTheAnsiCodePage)
{
    // Whatever the code page, what it encodes decodes back.
    const AnsiCodePage& ansi = m_files.LegacyCodePage();
    const std::wstring text = L"FULLPATH=C:\\Tools\\app.exe";
    char bytes[256] = {};
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    ASSERT_GT(length, 1);
    EXPECT_EQ(ansi.Decode(std::string_view(bytes, static_cast<size_t>(length - 1))),
        std::u16string(text.begin(), text.end()));
    EXPECT_EQ(ansi.Decode(""), std::u16string());
    EXPECT_EQ(ansi.Encode(std::u16string(text.begin(), text.end())), std::string(bytes));
}

// On a Chinese system the profile functions read GBK one character at a time: a bad one is
// replaced alone, and a lead byte takes the byte after it, whatever it is.
TEST_F(Win32FilesTest, DecodesGbkOnAChineseSystem)
{
    if (::GetACP() != 936)
        GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not GBK";
    const AnsiCodePage& ansi = m_files.LegacyCodePage();
    EXPECT_EQ(ansi.Decode("\xD6\xD0\xCE\xC4 D:\\\xC4\xBF\xC2\xBC"), u"中文 D:\\目录");
    EXPECT_TRUE(ansi.IsLeadByte(0xD6));
    EXPECT_FALSE(ansi.IsLeadByte('D'));
    size_t invalid = 0;
    const std::u16string cut = ansi.Decode("ab\xD6\xD0\xCE", &invalid);
    EXPECT_EQ(invalid, 1u);
    EXPECT_EQ(cut.substr(0, 3), u"ab中");
    EXPECT_EQ(cut.size(), 4u);
    EXPECT_EQ(ansi.Encode(u"D:\\实时\\系统.exe"), "D:\\\xCA\xB5\xCA\xB1\\\xCF\xB5\xCD\xB3.exe");
    EXPECT_EQ(ansi.Encode(u"\u0E01"), std::nullopt);  // no GBK form
}

TEST_F(Win32FilesTest, EncodesGbkWhateverTheSystemsCodePage)
{
    struct Case {
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {u"->对话框初始化完成。。。",
            "\x2d\x3e\xb6\xd4\xbb\xb0\xbf\xf2\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9\xa1\xa3\xa1\xa3\xa1\xa3"},
        {u"D:\\目录\\app.exe", "D:\\\xc4\xbf\xc2\xbc\\app.exe"},
        {u"한x", "?x"},  // no GBK code: one "?"
        {u"\U0001F600x", "?x"},  // a surrogate pair is one character
        {std::u16string(1, u'\xD800') + u"y", "?y"},  // a lone surrogate
        {u"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_files.EncodeGbk(c.text), c.bytes);
}

// The per-user folder of a copy that cannot write beside itself: %APPDATA%\Perennix, made when
// missing; a file in its place is told apart; a folder is writable only when a file can be made.
TEST(Win32DataFolder, PerUserFolderWritableFoldersAndAFileInThePlace)
{
    Win32Files files;
    testsupport::TempDir temp;
    const std::wstring appData = [] {
        wchar_t value[1024] = {};
        ::GetEnvironmentVariableW(L"APPDATA", value, 1024);
        return std::wstring(value);
    }();
    ASSERT_FALSE(appData.empty());
    const std::u16string perUser = files.PerUserFolder();
    EXPECT_EQ(std::wstring(perUser.begin(), perUser.end()), appData + L"\\Perennix");

    EXPECT_TRUE(files.CanWriteInFolder(temp.Path().u16string()));
    EXPECT_FALSE(files.CanWriteInFolder((temp.Path() / L"missing").u16string()));
    EXPECT_TRUE(std::filesystem::is_empty(temp.Path())) << "the probe file is gone";

    const std::filesystem::path made = temp.Path() / L"用户";
    EXPECT_EQ(files.MakePrivateFolder(made.u16string()), FolderState::Ready);
    EXPECT_TRUE(std::filesystem::is_directory(made));
    EXPECT_EQ(files.MakePrivateFolder(made.u16string()), FolderState::Ready) << "there already";
    const std::filesystem::path file = temp.Path() / L"file";
    std::ofstream(file) << "x";
    EXPECT_EQ(files.MakePrivateFolder(file.u16string()), FolderState::NotAFolder);
}

}  // namespace
