// The process list from /proc and termination, against real processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "TempDir.h"
#include "backends/posix/PosixSystem.h"
#include "backends/posix/ProcFs.h"
#include "base/Unicode.h"
#include "guard/ProcessMatch.h"

namespace {

using pxtest::ChildProcess;

std::u16string U16(const std::string& utf8) { return px::FromUtf8(utf8); }

class ProcessTest : public ::testing::Test {
protected:
    // Unique per test process, so that suites running side by side never see each other's probes.
    const std::string m_tag = std::to_string(getpid());
    testsupport::TempDir m_dir;
    PosixSystem m_system;
    std::vector<std::unique_ptr<ChildProcess>> m_children;

    // Starts program (argv[0] = program unless given).
    ChildProcess& Start(const std::string& program, const std::string& argv0 = {},
        const std::vector<std::pair<std::string, std::string>>& environment = {})
    {
        m_children.push_back(
            std::make_unique<ChildProcess>(program, std::vector{argv0.empty() ? program : argv0}, environment));
        EXPECT_TRUE(m_children.back()->Started()) << program;
        return *m_children.back();
    }
    // Starts a copy of the probe called name (one copy serves every instance of a name).
    ChildProcess& StartProbe(const std::string& name, const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        const std::string path = m_dir / name;
        if (access(path.c_str(), F_OK) != 0)
            pxtest::CopyProbe(path);
        return Start(path, {}, env);
    }

    // The entry a scan reports for pid; nullopt when it reports none.
    std::optional<ProcessEntry> EntryOf(pid_t pid, ProcessDetail detail)
    {
        std::optional<ProcessEntry> found;
        EXPECT_TRUE(m_system.EnumerateProcesses(detail, [&](const ProcessEntry& e) {
            if (e.pid == static_cast<uint32_t>(pid))
                found = e;
            return !found;
        }));
        return found;
    }
};

bool HasName(const ProcessEntry& entry, const std::u16string& text, bool isPrefix)
{
    return std::any_of(entry.names.begin(), entry.names.end(),
        [&](const ProcessName& n) { return n.text == text && n.isPrefix == isPrefix; });
}

TEST_F(ProcessTest, FindsARunningProgramByAnyOfItsNames)
{
    const std::string& t = m_tag;
    StartProbe("pxa" + t);
    StartProbe("pxa" + t);
    StartProbe("PxCase" + t);
    // Started through a symlink: the executable is the target, the kernel name and argv[0] the link.
    pxtest::CopyProbe(m_dir / ("pxr" + t));
    ASSERT_EQ(symlink((m_dir / ("pxr" + t)).c_str(), (m_dir / ("pxl" + t)).c_str()), 0);
    Start(m_dir / ("pxl" + t));
    // A program that renamed its argv[0].
    pxtest::CopyProbe(m_dir / ("pxv" + t));
    Start(m_dir / ("pxv" + t), "/opt/elsewhere/pxw" + t);
    // Longer than the kernel keeps.
    const std::string longName = "pxlong" + t + "-program-name";
    StartProbe(longName);
    // A script: its kernel name is the script's (cut), its executable and argv[0] the shell's.
    const std::string scriptName = "pxscript" + t + "-long-name.sh";
    pxtest::WriteFile(
        m_dir / scriptName, "#!/bin/sh\nexec 0</dev/null >/dev/null 2>&1\nwhile :; do sleep 1; done\n", 0755);
    Start(m_dir / scriptName);
    // A zombie: ended, not yet reaped.
    const ChildProcess& zombie = StartProbe("pxz" + t, {{"PX_PROBE_LINGER_MS", "0"}});
    ASSERT_TRUE(pxtest::WaitUntil([&] { return pxtest::ProcessState(zombie.Pid()) == 'Z'; }, 10000));

    const struct {
        std::string name;
        bool running;
    } cases[] = {
        {"pxa" + t, true},
        {"PXA" + t, true},  // ASCII case is ignored
        {"pxcase" + t, true},
        {"pxr" + t, true},  // the symlink's target, by its executable
        {"pxl" + t, true},  // the symlink, by its kernel name and argv[0]
        {"pxw" + t, true},  // the renamed argv[0]
        {"pxv" + t, true},
        {longName, true},
        {"pxlong" + t + "-program-other", false},  // same first 15 bytes, another program
        {longName.substr(0, 15), false},  // the cut kernel name alone is not the program's name
        {scriptName, true},  // only the cut kernel name is there: it matches as a prefix
        {"pxz" + t, false},  // zombies do not count
        {"pxnone" + t, false},
        {"", false},
        {m_dir / ("pxa" + t), false},  // a path is not an image name
        {"pxa", false},
        {"pxa" + t + ".exe", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnyProcessNamed(m_system, U16(c.name)), c.running) << c.name;
}

TEST_F(ProcessTest, QuickScanReadsKernelNamesAndAllNamesBesideCutOnes)
{
    const std::string longName = "pxlong" + m_tag + "-program-name";
    const ChildProcess& longProbe = StartProbe(longName);
    const std::string scriptName = "pxscript" + m_tag + "-long-name.sh";
    pxtest::WriteFile(
        m_dir / scriptName, "#!/bin/sh\nexec 0</dev/null >/dev/null 2>&1\nwhile :; do sleep 1; done\n", 0755);
    const ChildProcess& script = Start(m_dir / scriptName);

    const std::optional<ProcessEntry> self = EntryOf(getpid(), ProcessDetail::Quick);
    ASSERT_TRUE(self);
    EXPECT_TRUE(HasName(*self, u"posix_tests", false));

    // The cut kernel name comes with the complete names it was cut from.
    const std::optional<ProcessEntry> longEntry = EntryOf(longProbe.Pid(), ProcessDetail::Quick);
    ASSERT_TRUE(longEntry);
    EXPECT_TRUE(HasName(*longEntry, U16(longName), false));
    EXPECT_TRUE(HasName(*longEntry, U16(longName.substr(0, 15)), true));

    // Nothing completes the script's kernel name: it stays, marked as cut.
    for (const ProcessDetail detail : {ProcessDetail::Quick, ProcessDetail::Full}) {
        const std::optional<ProcessEntry> scriptEntry = EntryOf(script.Pid(), detail);
        ASSERT_TRUE(scriptEntry);
        EXPECT_TRUE(HasName(*scriptEntry, U16(scriptName.substr(0, 15)), true));
    }
    const std::optional<ProcessEntry> scriptFull = EntryOf(script.Pid(), ProcessDetail::Full);
    EXPECT_TRUE(HasName(*scriptFull, u"sh", false));  // argv[0] of the interpreter
}

TEST_F(ProcessTest, QuickScanStartsWhereTheLastOneStopped)
{
    const ChildProcess& probe = StartProbe("pxs" + m_tag);
    const std::u16string name = U16("pxs" + m_tag);
    ASSERT_TRUE(AnyProcessNamed(m_system, name));
    // The next check visits the program it found first, and stops there.
    std::vector<uint32_t> visited;
    ASSERT_TRUE(m_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        visited.push_back(e.pid);
        return !ProcessMatches(name, e);
    }));
    EXPECT_EQ(visited, std::vector<uint32_t>{static_cast<uint32_t>(probe.Pid())});
    // A scan that finds nothing still lists every process, each once.
    visited.clear();
    ASSERT_TRUE(m_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        visited.push_back(e.pid);
        return true;
    }));
    std::vector<uint32_t> sorted = visited;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_NE(std::find(visited.begin(), visited.end(), static_cast<uint32_t>(probe.Pid())), visited.end());
    EXPECT_NE(std::find(visited.begin(), visited.end(), static_cast<uint32_t>(getpid())), visited.end());
}

TEST_F(ProcessTest, KernelThreadsAreNotListed)
{
    // kthreadd (pid 2) is visible only where /proc shows the host's processes.
    const std::optional<std::string> comm = pxtest::ReadFile("/proc/2/comm");
    if (!comm || *comm != "kthreadd\n" || pxtest::ParentOf(2) != 0)
        GTEST_SKIP() << "no kernel thread visible in this pid namespace";
    EXPECT_FALSE(EntryOf(2, ProcessDetail::Quick));
    EXPECT_FALSE(EntryOf(2, ProcessDetail::Full));
}

TEST_F(ProcessTest, ProcessThatEndsDuringTheScanIsSkipped)
{
    ChildProcess& late = StartProbe("pxend" + m_tag);
    bool first = true;
    bool sawLate = false;
    const bool listed = m_system.EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& e) {
        if (first) {
            // The probe (started last, so listed later) ends and is reaped mid-scan.
            first = false;
            kill(late.Pid(), SIGKILL);
            EXPECT_TRUE(late.WaitForExit(10000));
        }
        sawLate = sawLate || e.pid == static_cast<uint32_t>(late.Pid());
        return true;
    });
    EXPECT_TRUE(listed);
    EXPECT_FALSE(sawLate);
}

TEST_F(ProcessTest, UnreadableProcIsAFailedSnapshot)
{
    int visits = 0;
    const auto count = [&](const ProcessEntry&) { return ++visits > 0; };
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(px::posix::ScanProcesses((m_dir / "missing").c_str(), ProcessDetail::Quick, count));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        "perennix: opendir " + (m_dir / "missing") + " failed: 2 " + std::strerror(ENOENT) + "\n");
    // A directory that merely looks like /proc is not the process list, though no call failed.
    ASSERT_EQ(mkdir((m_dir / "1").c_str(), 0755), 0);
    pxtest::WriteFile(m_dir / "1/stat", "1 (init) S 0 1 1 0 -1 4194560 0\n");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(px::posix::ScanProcesses(m_dir.Path().c_str(), ProcessDetail::Quick, count));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(visits, 0);
}

// MATCH_CMDLINE on real processes: two of one image name told apart by their command lines
// (/proc/PID/cmdline, its NULs read as spaces); ending the program ends only the one whose
// command line holds the text.
TEST_F(ProcessTest, ACommandLineFilterTellsTwoProcessesOfOneNameApart)
{
    const std::string name = "pxcl" + m_tag;
    const std::string path = m_dir / name;
    pxtest::CopyProbe(path);
    const std::string gatewayMark = "role=ibgateway-" + m_tag;
    const std::string otherMark = "role=ide-" + m_tag;
    m_children.push_back(std::make_unique<ChildProcess>(path, std::vector<std::string>{path, "-x", gatewayMark}));
    ChildProcess& gateway = *m_children.back();
    m_children.push_back(std::make_unique<ChildProcess>(path, std::vector<std::string>{path, "-x", otherMark}));
    ChildProcess& other = *m_children.back();
    ASSERT_TRUE(gateway.Started() && other.Started());

    EXPECT_EQ(m_system.CommandLineOf(static_cast<uint32_t>(gateway.Pid()), 0), U16(path + " -x " + gatewayMark));
    const std::optional<uint64_t> stamp = px::posix::ProcessStartTime("/proc", static_cast<uint32_t>(gateway.Pid()));
    ASSERT_TRUE(stamp.has_value());
    EXPECT_FALSE(m_system.CommandLineOf(static_cast<uint32_t>(gateway.Pid()), *stamp + 1).has_value())
        << "a start stamp of another process";
    EXPECT_FALSE(m_system.CommandLineOf(0x7FFFFFF0, 0).has_value());

    const std::u16string image = U16(name);
    EXPECT_TRUE(AnyProcessNamed(m_system, GuardedProgram(image, U16(gatewayMark))));
    EXPECT_FALSE(AnyProcessNamed(m_system, GuardedProgram(image, U16("role=nobody-" + m_tag))));
    EXPECT_TRUE(TerminateAllNamed(m_system, GuardedProgram(image, U16(gatewayMark))));
    EXPECT_TRUE(gateway.WaitForExit(5000).has_value());
    EXPECT_FALSE(other.WaitForExit(300).has_value()) << "the other process of the name lives on";
    EXPECT_TRUE(AnyProcessNamed(m_system, image));
}

TEST(KernelName, MarksCutNamesAndDropsASplitCharacter)
{
    const struct {
        std::string comm;
        std::u16string text;
        bool isPrefix;
    } cases[] = {
        {"bash", u"bash", false}, {"fifteen-bytes-x", u"fifteen-bytes-x", true},
        {"fourteen-bytes", u"fourteen-bytes", false},
        // 14 ASCII bytes and the first byte of "é" (C3 A9): the cut split the letter.
        {"fourteen-bytes\xC3", u"fourteen-bytes", true},
        // 13 ASCII bytes and two of the three bytes of "€" (E2 82 AC).
        {"thirteen-byte\xE2\x82", u"thirteen-byte", true},
        // A whole "€" at the end stays.
        {"twelve-bytes\xE2\x82\xAC", u"twelve-bytes\u20AC", true},
        // Not UTF-8 at all: the bytes stay, as units no typed name holds.
        {"bad\xFF", u"bad\xDCFF", false},
        {"fourteen-byte\xC3", u"fourteen-byte\xDCC3", false},  // not cut: an invalid byte, kept
    };
    for (const auto& c : cases) {
        const ProcessName name = px::posix::KernelName(c.comm);
        EXPECT_EQ(name.text, c.text) << c.comm;
        EXPECT_EQ(name.isPrefix, c.isPrefix) << c.comm;
    }
}

TEST_F(ProcessTest, NamesThatAreNotUtf8NeverMatchByAccident)
{
    const ChildProcess& latin1 = StartProbe("px\xFF" + m_tag);
    StartProbe("px\xC3\xA9" + m_tag);  // "pxé" in UTF-8

    const std::optional<ProcessEntry> entry = EntryOf(latin1.Pid(), ProcessDetail::Full);
    ASSERT_TRUE(entry);
    EXPECT_TRUE(HasName(*entry, u"px\xDCFF" + U16(m_tag), false));
    EXPECT_FALSE(AnyProcessNamed(m_system, u"px\u00FF" + U16(m_tag)));  // the character the byte means in Latin-1
    EXPECT_FALSE(AnyProcessNamed(m_system, u"px\uFFFD" + U16(m_tag)));
    EXPECT_TRUE(AnyProcessNamed(m_system, u"px\u00E9" + U16(m_tag)));
}

TEST_F(ProcessTest, TerminateEndsEveryMatchingProcess)
{
    ChildProcess& first = StartProbe("pxkill" + m_tag);
    ChildProcess& second = StartProbe("pxkill" + m_tag);
    ChildProcess& bystander = StartProbe("pxkeep" + m_tag);

    EXPECT_TRUE(TerminateAllNamed(m_system, u"PXKILL" + U16(m_tag)));
    for (ChildProcess* killed : {&first, &second}) {
        const std::optional<int> status = killed->WaitForExit(10000);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    }
    EXPECT_TRUE(pxtest::IsAlive(bystander.Pid()));
    EXPECT_FALSE(AnyProcessNamed(m_system, u"pxkill" + U16(m_tag)));
    EXPECT_FALSE(TerminateAllNamed(m_system, u"pxkill" + U16(m_tag)));
}

TEST_F(ProcessTest, TerminateRefusesPidsThatDoNotNameOneOtherProcess)
{
    const std::optional<std::string> pidMax = pxtest::ReadFile("/proc/sys/kernel/pid_max");
    const uint32_t unused = pidMax ? static_cast<uint32_t>(std::stoul(*pidMax)) + 1 : 4194305;
    const uint32_t refused[] = {
        0,  // kill(0) would hit our own process group
        0xFFFFFFFFu,  // -1: every process we may signal
        0x80000000u,  // negative: a process group
        static_cast<uint32_t>(-static_cast<int32_t>(getpgrp())), static_cast<uint32_t>(getpid()),
        unused,  // no such process
    };
    ::testing::internal::CaptureStderr();
    for (const uint32_t pid : refused)
        EXPECT_FALSE(m_system.TerminateProcess(pid, 0)) << pid;
    // No process to end is no failure of the call: nothing is logged.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Still here to tell the tale, and so is our group.
    EXPECT_EQ(pxtest::ProcessState(getpid()), 'R');
}

// A pid names the listed process only with its start time: a process that got the pid since
// the list was taken (here: the same pid with another start time) is left alone.
TEST_F(ProcessTest, TerminationEndsOnlyTheProcessThatWasListed)
{
    const ChildProcess& probe = StartProbe("pxreuse" + m_tag);
    const std::optional<ProcessEntry> entry = EntryOf(probe.Pid(), ProcessDetail::Full);
    ASSERT_TRUE(entry);
    ASSERT_NE(entry->startStamp, 0u);
    const uint32_t pid = static_cast<uint32_t>(probe.Pid());
    EXPECT_FALSE(m_system.TerminateProcess(pid, entry->startStamp + 1));
    EXPECT_TRUE(pxtest::IsAlive(probe.Pid()));
    EXPECT_TRUE(m_system.TerminateProcess(pid, entry->startStamp));
    EXPECT_TRUE(pxtest::WaitUntil([&] { return !pxtest::IsAlive(probe.Pid()); }, 10000));
}

// A kill the system refuses leaves a line on standard error with the pid and the reason;
// scanning other users' processes, whose executables are hidden, leaves none.
TEST_F(ProcessTest, ARefusedTerminationIsLoggedAndOtherUsersProcessesAreNot)
{
    // As root: a process of root's, ended by "nobody". As any other user: process 1.
    const bool root = geteuid() == 0;
    if (!root && kill(1, 0) == 0)
        GTEST_SKIP() << "this user may signal process 1";
    const pid_t target = root ? StartProbe("pxrefuse" + m_tag).Pid() : 1;
    ::testing::internal::CaptureStderr();
    const long ended = pxtest::RunUnprivileged([&] {
        PosixSystem system;
        for (const ProcessDetail detail : {ProcessDetail::Quick, ProcessDetail::Full})
            system.EnumerateProcesses(detail, [](const ProcessEntry&) { return true; });
        return system.TerminateProcess(static_cast<uint32_t>(target), 0) ? 1L : 0L;
    });
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(
        logged, "perennix: pidfd_send_signal " + std::to_string(target) + " failed: 1 " + std::strerror(EPERM) + "\n");
    EXPECT_TRUE(pxtest::IsAlive(target));
}

// Another user's program of the same name is not the guarded one: it is listed, marked as
// another user's, and neither counts as running nor is ended.
TEST_F(ProcessTest, AnotherUsersProcessIsListedButNeitherCountsNorIsEnded)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run as another user";
    const std::string name = "pxroot" + m_tag;
    const ChildProcess& probe = StartProbe(name);
    constexpr long kRunning = 1, kListedInFull = 2, kEnded = 4, kAnotherUsers = 8;
    const long seen = pxtest::RunUnprivileged([&] {
        PosixSystem system;
        long result = AnyProcessNamed(system, U16(name)) ? kRunning : 0;
        system.EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& e) {
            if (e.pid == static_cast<uint32_t>(probe.Pid()) && HasName(e, U16(name), false))
                result |= kListedInFull | (e.ownUser ? 0 : kAnotherUsers);  // by its kernel name and argv[0]
            return true;
        });
        return result | (TerminateAllNamed(system, U16(name)) ? kEnded : 0);
    });
    EXPECT_EQ(seen, kListedInFull | kAnotherUsers);
    EXPECT_TRUE(pxtest::IsAlive(probe.Pid()));
    // This user's own processes are its own.
    bool own = false;
    m_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        own = own || (e.pid == static_cast<uint32_t>(probe.Pid()) && e.ownUser);
        return true;
    });
    EXPECT_TRUE(own);
}

}  // namespace
