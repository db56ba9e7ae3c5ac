// Start at login on Linux: the entry the program writes for an executable is byte for byte the
// one scripts/install-autostart writes (same name, same text), for plain paths and paths that
// need quoting; the system's record follows changes made outside the program.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include "TempDir.h"
#include "backends/posix/Autostart.h"
#include "backends/posix/PosixSystem.h"
#include "base/Unicode.h"

namespace fs = std::filesystem;

namespace {

class AutostartTest : public ::testing::Test {
protected:
    AutostartTest()
    {
        config = folder.Path() / "config";
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~AutostartTest() override
    {
        if (saved)
            ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    // Runs scripts/install-autostart with args; its exit status.
    static int Script(const std::string& args)
    {
        return std::system(("'" PX_INSTALL_AUTOSTART "' " + args + " >/dev/null").c_str());
    }
    static std::string Quoted(const std::string& path)
    {
        std::string out = "'";
        for (char c : path)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }

    testsupport::TempDir folder;
    fs::path config;
    std::optional<std::string> saved
        = std::getenv("XDG_CONFIG_HOME") ? std::optional<std::string>(std::getenv("XDG_CONFIG_HOME")) : std::nullopt;
};

TEST_F(AutostartTest, TheProgramsEntryIsTheScriptsEntry)
{
    // Folder names quoted in every way the entry knows: a space, %, $, a backslash, a double
    // quote, a backquote, and non-ASCII text.
    const std::string names[] = {"plain", "two 100% $HOME", "back\\slash \"quoted\" `cmd`", "程序 守护"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const fs::path exe = folder.Path() / name / "perennix";
        fs::create_directories(exe.parent_path());
        std::ofstream(exe) << "#!/bin/sh\nexit 0\n";
        fs::permissions(exe, fs::perms::owner_all);

        ASSERT_EQ(Script(Quoted(exe.string())), 0);
        const std::optional<std::string> entry = px::posix::AutostartEntryPath(exe.string());
        ASSERT_TRUE(entry.has_value());
        ASSERT_TRUE(fs::is_regular_file(*entry)) << "the script wrote another name than " << *entry;
        EXPECT_EQ(testsupport::ReadBytes(px::FromUtf8(*entry)), px::posix::AutostartEntryText(exe.string()));
        EXPECT_EQ(px::posix::IsAutostartEnabled(exe.string()), true);

        // The program's own write gives the same file, readable by the desktop (0644).
        fs::remove(*entry);
        EXPECT_EQ(px::posix::IsAutostartEnabled(exe.string()), false);
        ASSERT_TRUE(px::posix::SetAutostart(exe.string(), true));
        EXPECT_EQ(testsupport::ReadBytes(px::FromUtf8(*entry)), px::posix::AutostartEntryText(exe.string()));
        struct stat st { };
        ASSERT_EQ(::stat(entry->c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);

        // And the script's --remove finds it.
        ASSERT_EQ(Script("--remove " + Quoted(exe.string())), 0);
        EXPECT_EQ(px::posix::IsAutostartEnabled(exe.string()), false);
    }
    EXPECT_TRUE(fs::is_empty(config / "autostart")) << "no temporary file left";
}

TEST_F(AutostartTest, TheSystemsRecordFollowsChangesMadeOutsideTheProgram)
{
    PosixSystem system;
    const std::string exe = px::ToUtf8(system.GetModuleFileName());
    const std::string entry = *px::posix::AutostartEntryPath(exe);
    EXPECT_EQ(system.IsStartAtLogin(), false) << "no autostart folder yet";
    ASSERT_TRUE(system.SetStartAtLogin(true));
    EXPECT_EQ(system.IsStartAtLogin(), true);
    EXPECT_TRUE(fs::is_regular_file(entry));

    fs::remove(entry);  // the user removed it in the desktop's settings
    EXPECT_EQ(system.IsStartAtLogin(), false);
    ASSERT_EQ(Script(Quoted(exe)), 0);  // written again by the script
    EXPECT_EQ(system.IsStartAtLogin(), true);
    // Switched off by the desktop without removing it.
    for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        SCOPED_TRACE(off);
        std::ofstream(entry, std::ios::app) << off << "\n";
        EXPECT_EQ(system.IsStartAtLogin(), false);
        ASSERT_EQ(Script(Quoted(exe)), 0);
        EXPECT_EQ(system.IsStartAtLogin(), true);
    }

    ASSERT_TRUE(system.SetStartAtLogin(false));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(system.IsStartAtLogin(), false);
    EXPECT_TRUE(system.SetStartAtLogin(false)) << "removing what is not there is no failure";
}

TEST_F(AutostartTest, AnAutostartPlaceThatIsAFileIsAFailureNotACrash)
{
    PosixSystem system;
    std::ofstream(config) << "not a folder";
    EXPECT_FALSE(system.SetStartAtLogin(true));
    EXPECT_EQ(system.IsStartAtLogin(), false);
}

}  // namespace
