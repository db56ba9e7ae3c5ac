// How a launched program ended, and commands run beside the guard, against real processes.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "TempDir.h"
#include "backends/posix/PosixSystem.h"
#include "base/Unicode.h"

namespace {

std::u16string U16(const std::string& utf8) { return px::FromUtf8(utf8); }

// Runs body in a process of its own (an adopter stays one for the rest of its life) and
// returns the bits it ended with.
template <typename Body> int InAdoptingProcess(Body body)
{
    const pid_t child = fork();
    if (child == 0) {
        PosixSystem system;
        _exit(system.AdoptLaunchedOrphans() ? body(system) : 0x7F);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(LaunchExit, TheExitCodeOrTheSignalOfTheLaunchedProgramIsKnownOnceItEnded)
{
    testsupport::TempDir dir;
    struct Case {
        const char* script;
        ProcessExit exit;
    };
    const Case cases[] = {
        {"exit 3", ProcessExit{false, 3, u""}},
        {"exit 0", ProcessExit{false, 0, u""}},
        {"kill -KILL $$", ProcessExit{true, 9, u"SIGKILL"}},
        {"kill -SEGV $$", ProcessExit{true, 11, u"SIGSEGV"}},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "helper";
        pxtest::WriteFile(path, std::string("#!/bin/sh\n") + c.script + "\n", 0755);
        constexpr int kEndedKnown = 1, kSame = 2;
        const int result = InAdoptingProcess([&](PosixSystem& system) {
            std::optional<LaunchedProcess> launched;
            if (system.ShellOpen(U16(path), nullptr, &launched) <= 32 || !launched)
                return 0;
            int bits = 0;
            if (!pxtest::WaitUntil([&] { return !system.IsAlive(*launched); }, 10000))
                return bits;
            const std::optional<ProcessExit> exit = system.ExitOf(*launched);
            bits |= exit ? kEndedKnown : 0;
            bits |= exit && *exit == c.exit ? kSame : 0;
            return bits;
        });
        EXPECT_EQ(result, kEndedKnown | kSame) << c.script;
    }
}

TEST(LaunchExit, ARunningProgramHasNoExitYet)
{
    testsupport::TempDir dir;
    const std::string path = dir / "sleeper";
    pxtest::WriteFile(path, "#!/bin/sh\nexec sleep 30\n", 0755);
    const int result = InAdoptingProcess([&](PosixSystem& system) {
        std::optional<LaunchedProcess> launched;
        if (system.ShellOpen(U16(path), nullptr, &launched) <= 32 || !launched)
            return 0;
        const bool unknown = !system.ExitOf(*launched);
        system.TerminateLaunched(*launched);
        pxtest::WaitUntil([&] { return !system.IsAlive(*launched); }, 10000);
        const std::optional<ProcessExit> exit = system.ExitOf(*launched);
        return (unknown ? 1 : 0) | (exit && exit->bySignal && exit->signalName == u"SIGKILL" ? 2 : 0);
    });
    EXPECT_EQ(result, 3);
}

class CommandTest : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    PosixSystem m_system;

    std::optional<ProcessExit> WaitForExit(uint64_t id)
    {
        std::optional<ProcessExit> exit;
        pxtest::WaitUntil([&] { return (exit = m_system.CommandExit(id)).has_value(); }, 10000);
        return exit;
    }
};

TEST_F(CommandTest, TheCommandGetsTheVariablesAndNoShellAndItsExitIsToldOnce)
{
    const std::string out = m_dir / "env";
    const std::string command = m_dir / "on event";  // a blank in the path: no shell splits it
    pxtest::WriteFile(command,
        "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$PERENNIX_EVENT\" \"$PERENNIX_EXIT_CODE\" \"$HOME\" > '" + out
            + "'\nexit 5\n",
        0755);
    const std::optional<uint64_t> id = m_system.RunCommand(
        U16(command), {{u"PERENNIX_EVENT", u"died"}, {u"PERENNIX_EXIT_CODE", u"3"}, {u"HOME", u"/home/其他"}});
    ASSERT_TRUE(id);
    const std::optional<ProcessExit> exit = WaitForExit(*id);
    ASSERT_TRUE(exit);
    EXPECT_EQ(*exit, (ProcessExit{false, 5, u""}));
    EXPECT_FALSE(m_system.CommandExit(*id)) << "told once";
    EXPECT_EQ(pxtest::ReadFile(out), "died|3|/home/其他\n");
}

TEST_F(CommandTest, AMissingCommandIsNotStartedAndAHangingOrFloodingOneReturnsAtOnce)
{
    EXPECT_FALSE(m_system.RunCommand(U16(m_dir / "missing"), {}));
    pxtest::WriteFile(m_dir / "not-executable", "#!/bin/sh\nexit 0\n", 0644);
    EXPECT_FALSE(m_system.RunCommand(U16(m_dir / "not-executable"), {}));

    const std::string hang = m_dir / "hang";
    pxtest::WriteFile(hang, "#!/bin/sh\nexec sleep 600\n", 0755);
    const std::string flood = m_dir / "flood";
    pxtest::WriteFile(flood, "#!/bin/sh\nexec yes flood\n", 0755);
    for (const std::string& path : {hang, flood}) {
        const std::optional<uint64_t> id = m_system.RunCommand(U16(path), {});
        ASSERT_TRUE(id) << path;
        const pid_t pid = static_cast<pid_t>(*id);
        EXPECT_FALSE(m_system.CommandExit(*id)) << path;
        EXPECT_TRUE(pxtest::WaitUntil([&] { return pxtest::IsAlive(pid); }, 10000));
        // Its output goes nowhere: it writes on, and nothing of this process fills up.
        kill(pid, SIGKILL);
        const std::optional<ProcessExit> exit = WaitForExit(*id);
        ASSERT_TRUE(exit) << path;
        EXPECT_EQ(exit->signalName, u"SIGKILL");
    }
}

}  // namespace
