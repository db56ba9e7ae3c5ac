// Saving the settings on a disk that refuses: a full file system, a read-only one, a folder
// the program may not write. The save reports failure, the old file stays whole, no
// temporary file is left, and the program goes on guarding (also without its log, and when
// log.txt is something it must not write into).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "ProgramFixture.h"
#include "TempDir.h"
#include "backends/posix/PosixFiles.h"
#include "backends/posix/PosixHandles.h"
#include "settings/DataFolder.h"
#include "settings/GuardConfig.h"

namespace {

namespace fs = std::filesystem;
using testsupport::NativePath;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// A small tmpfs mounted on a folder while the object lives.
class Tmpfs {
public:
    explicit Tmpfs(fs::path path)
        : m_path(std::move(path))
    {
        fs::create_directories(m_path);
        if (::mount("tmpfs", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0)
            m_mounted = true;
        else
            m_error = std::strerror(errno);
    }
    ~Tmpfs()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    bool MakeReadOnly() { return ::mount(nullptr, m_path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    // Writes a file that takes every free block.
    void Fill() const
    {
        const int fd = ::open((m_path / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) { }
        ::close(fd);
    }

private:
    fs::path m_path;
    bool m_mounted = false;
    std::string m_error;
};

std::vector<std::string> NamesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

GuardConfig ChangedConfig()
{
    GuardConfig config;
    config.strFullPath = u"/opt/new/program";
    config.strExeName = u"program";
    config.nLoopSec = 5;
    config.strRebTime = u"12:30";
    config.strArgs = std::u16string(4000, u'x');  // more than a full disk takes
    return config;
}

const std::string kOldIni = "[PX_SETTING]\r\nFULLPATH=/opt/old/program\r\nLOOPSEC=60\r\n";

// The settings record written through the real file service.
class FileServiceOnDisk : public ::testing::Test {
protected:
    FileServiceOnDisk() { SetFiles(&files); }
    ~FileServiceOnDisk() override { SetFiles(nullptr); }

    testsupport::TempDir dir;
    PosixFiles files;
};

TEST_F(FileServiceOnDisk, SaveIntoAFolderThatMayNotBeWrittenFails)
{
    const fs::path folder = dir.Path() / "settings";
    fs::create_directory(folder);
    const std::u16string ini = px::FromUtf8((folder / "config.ini").string());
    WriteBytes(ini, kOldIni);
    fs::permissions(folder, fs::perms(0555));
    // As root, in a child process as "nobody": root may write anywhere.
    const long written = pxtest::RunUnprivileged([&] { return WriteGuardConfig(ini, ChangedConfig()) ? 1L : 0L; });
    fs::permissions(folder, fs::perms(0755));
    EXPECT_EQ(written, 0);
    EXPECT_EQ(ReadBytes(ini), kOldIni);
    EXPECT_EQ(NamesIn(folder), std::vector<std::string>{"config.ini"});
}

TEST_F(FileServiceOnDisk, SaveOnAFullOrReadOnlyDiskFails)
{
    for (const bool readOnly : {false, true}) {
        Tmpfs disk(dir.Path() / (readOnly ? "read-only" : "full"));
        if (!disk.Mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Error();
        const fs::path iniPath = dir.Path() / (readOnly ? "read-only" : "full") / "config.ini";
        const std::u16string ini = px::FromUtf8(iniPath.string());
        WriteBytes(ini, kOldIni);
        if (readOnly)
            ASSERT_TRUE(disk.MakeReadOnly());
        else
            disk.Fill();
        const std::vector<std::string> before = NamesIn(iniPath.parent_path());

        EXPECT_FALSE(WriteGuardConfig(ini, ChangedConfig())) << readOnly;
        EXPECT_FALSE(WriteAutoStart(ini, true)) << readOnly;
        EXPECT_EQ(ReadBytes(ini), kOldIni) << readOnly;
        EXPECT_EQ(NamesIn(iniPath.parent_path()), before) << readOnly;
    }
}

// The whole program, its folder on a disk that refuses, its settings file and log there.
class ProgramOnDisk : public fake::ProgramTest {
protected:
    ProgramOnDisk() { SetFiles(&posixFiles); }

    PosixFiles posixFiles;
};

// A folder made read-only after its config.ini was written keeps that file as the settings:
// they are read from there and a save fails, as on a full disk.
TEST_F(ProgramOnDisk, GuardsOnWhenItsFolderIsFullOrReadOnly)
{
    const fs::path programPath = fs::path(NativePath(folder.File("program.exe")));
    WriteBytes(folder.File("program.exe"), "#!/bin/sh\n");
    for (const bool readOnly : {false, true}) {
        const fs::path home = fs::path(NativePath(folder.File(readOnly ? "read-only" : "full")));
        Tmpfs disk(home);
        if (!disk.Mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Error();
        const std::string ini = "[PX_SETTING]\r\nFULLPATH=" + programPath.string() + "\r\nEXE_NAME=program.exe\r\n";
        WriteBytes(px::FromUtf8((home / "config.ini").string()), ini);
        WriteBytes(px::FromUtf8((home / "log.txt").string()), "the last run's log\r\n");
        if (readOnly)
            ASSERT_TRUE(disk.MakeReadOnly());
        else
            disk.Fill();
        system.modulePath = px::FromUtf8((home / "perennix").string());
        host.boxes.clear();
        const std::vector<std::string> before = NamesIn(home);

        bool guarded = false;
        Run([&](fake::FakeWindow& w) {
            w.Type(IDC_LOOPSEC, u"5");
            w.Click(IDC_SAVE);
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, u"保存失败，无法写入配置文件！");
            host.boxAnswers.push_back({IDOK});
            w.Click(IDC_START);
            guarded = fake::MainDialog(w).IsGuarding();
            EXPECT_EQ(fake::MainDialog(w).Config().nLoopSec, 5);
        });
        EXPECT_TRUE(guarded) << readOnly;
        EXPECT_EQ(ReadBytes(px::FromUtf8((home / "config.ini").string())), ini) << readOnly;
        EXPECT_EQ(NamesIn(home), before) << readOnly;
    }
}

// In a folder that others may write, log.txt may be what another user put there: a link to
// a file of this user's (or to none), a named pipe (with a reader or without one), a folder.
// None of it is followed, emptied or written, the start does not wait for a pipe's reader,
// and the program guards without a log, which one line on standard error says.
TEST_F(ProgramOnDisk, GuardsWithoutALogWhenLogTxtIsNoFileOfItsOwn)
{
    const fs::path home = folder.Path();
    WriteBytes(folder.File("program.exe"), "#!/bin/sh\n");
    WriteBytes(folder.File("config.ini"),
        "[PX_SETTING]\r\nFULLPATH=" + (home / "program.exe").string() + "\r\nEXE_NAME=program.exe\r\nAUTOSTART=1\r\n");
    const fs::path log = home / "log.txt";
    const fs::path victim = home / "victim.txt";
    const std::string victimBytes = "this user's own file\n";
    const struct {
        const char* name;
        std::function<void()> make;
        bool reader;  // another process reads from the pipe while the program runs
    } cases[] = {
        {"a link to a file", [&] { fs::create_symlink(victim, log); }, false},
        {"a link to no file", [&] { fs::create_symlink(home / "nowhere.txt", log); }, false},
        {"a named pipe", [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0); }, false},
        {"a named pipe with a reader", [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0); }, true},
        {"a folder", [&] { fs::create_directory(log); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(px::FromUtf8(victim.string()), victimBytes);
        fs::remove_all(log);
        c.make();
        const px::posix::UniqueFd reader(c.reader ? ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
        const fs::file_type before = fs::symlink_status(log).type();

        ::testing::internal::CaptureStderr();
        bool guarded = false;
        Run([&](fake::FakeWindow& w) { guarded = fake::MainDialog(w).IsGuarding(); });
        const std::string logged = ::testing::internal::GetCapturedStderr();

        EXPECT_TRUE(guarded);
        EXPECT_EQ(logged, "perennix: running without a log: " + log.string() + " cannot be opened as a file\n");
        EXPECT_EQ(fs::symlink_status(log).type(), before);
        EXPECT_EQ(ReadBytes(px::FromUtf8(victim.string())), victimBytes);
        EXPECT_FALSE(fs::exists(home / "nowhere.txt"));
        if (reader.Valid()) {
            char byte = 0;
            EXPECT_LE(::read(reader.Get(), &byte, 1), 0);  // nothing was written into the pipe
        }
    }
}

// Where config.ini and log.txt go, on real folders: beside a program in a writable folder or in
// one that holds a config.ini; in the per-user folder (made 0700, parents and all) beside one on
// a read-only disk or in a folder the user may not write; and a clear problem where the per-user
// folder is a file.
TEST_F(FileServiceOnDisk, TheDataFolderIsBesideTheProgramWhenWritableElsePerUser)
{
    PosixFiles files;
    const fs::path config = dir.Path() / "xdg";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::u16string perUser = px::FromUtf8((config / "perennix").string() + "/");

    // A portable copy in a writable folder: beside it, nothing made per user.
    const fs::path portable = dir.Path() / "portable";
    fs::create_directories(portable);
    DataFolder data = ChooseDataFolder(files, px::FromUtf8((portable / "perennix").string()));
    EXPECT_EQ(data.path, px::FromUtf8(portable.string() + "/"));
    EXPECT_FALSE(data.perUser);
    EXPECT_TRUE(data.problem.empty());
    EXPECT_FALSE(fs::exists(config));

    // A folder this user may not write (as "nobody": root writes anywhere): per user, made 0700.
    const fs::path locked = dir.Path() / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms(0555));
    const long chosePerUser = pxtest::RunUnprivileged(
        [&] { return ChooseDataFolder(files, px::FromUtf8((locked / "perennix").string())).perUser ? 1L : 0L; });
    EXPECT_EQ(chosePerUser, 1);
    // The same folder with a config.ini in it (made read-only after it was set up): beside it.
    fs::permissions(locked, fs::perms(0755));
    WriteBytes(px::FromUtf8((locked / "config.ini").string()), "[PX_SETTING]\r\nLOOPSEC=5\r\n");
    fs::permissions(locked, fs::perms(0555));
    const long choseBeside = pxtest::RunUnprivileged([&] {
        const DataFolder lockedData = ChooseDataFolder(files, px::FromUtf8((locked / "perennix").string()));
        return !lockedData.perUser && lockedData.path == px::FromUtf8(locked.string() + "/") ? 1L : 0L;
    });
    EXPECT_EQ(choseBeside, 1);

    // A read-only disk (root too): the per-user folder, made with 0700 and its parents.
    Tmpfs disk(dir.Path() / "read-only");
    if (disk.Mounted()) {
        ASSERT_TRUE(disk.MakeReadOnly());
        data = ChooseDataFolder(files, px::FromUtf8((dir.Path() / "read-only" / "perennix").string()));
        EXPECT_EQ(data.path, perUser);
        EXPECT_TRUE(data.perUser);
        EXPECT_TRUE(data.problem.empty()) << px::ToUtf8(data.problem);
        struct stat st { };
        ASSERT_EQ(::stat((config / "perennix").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        // The per-user folder is a file: said, and the path still names where saves would go.
        fs::remove(config / "perennix");
        WriteBytes(px::FromUtf8((config / "perennix").string()), "a file");
        data = ChooseDataFolder(files, px::FromUtf8((dir.Path() / "read-only" / "perennix").string()));
        EXPECT_TRUE(data.perUser);
        EXPECT_NE(data.problem.find(u"是一个文件"), std::u16string::npos) << px::ToUtf8(data.problem);
    } else {
        ADD_FAILURE() << "cannot mount a tmpfs here: " << disk.Error();
    }
    fs::permissions(locked, fs::perms(0755));
    if (saved)
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
