// The Windows system services against real programs: the process snapshot and termination,
// the shell's open, the command interpreter, window lookup, the foreground and the space key.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "Win32TestSupport.h"
#include "base/Unicode.h"
#include "guard/ProcessMatch.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/WinPrelude.h"
// After <windows.h>.
#include <shellapi.h>

namespace {

namespace fs = std::filesystem;
using pxtest::HelperPath;
using pxtest::StartedProcess;
using pxtest::WaitForReport;
using pxtest::WaitUntil;

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

class Win32SystemTest : public ::testing::Test {
protected:
    // Unique per test process: suites running side by side never see each other's helpers.
    const std::wstring m_tag = std::to_wstring(::GetCurrentProcessId());
    testsupport::TempDir m_dir;
    Win32System m_system;

    // A copy of the helper named name in the test's folder.
    fs::path HelperCopy(const std::wstring& name)
    {
        const fs::path path = m_dir.Path() / name;
        fs::copy_file(HelperPath(), path);
        return path;
    }
};

TEST_F(Win32SystemTest, SnapshotFindsBothInstancesInAnotherCaseAndTerminationEndsThem)
{
    const fs::path program = HelperCopy(L"PxSnap" + m_tag + L".exe");
    StartedProcess first(program, L"sleep");
    StartedProcess second(program, L"sleep");
    ASSERT_TRUE(first.Started() && second.Started());
    const std::u16string lowerName = U16(L"pxsnap" + m_tag + L".EXE");

    std::vector<uint32_t> seen;
    ASSERT_TRUE(m_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& p) {
        if (ProcessMatches(lowerName, p))
            seen.push_back(p.pid);
        return true;
    }));
    std::sort(seen.begin(), seen.end());
    std::vector<uint32_t> expected{first.Pid(), second.Pid()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(AnyProcessNamed(m_system, lowerName));
    EXPECT_FALSE(AnyProcessNamed(m_system, U16(L"pxsnap" + m_tag)));  // the bare name without .exe

    EXPECT_TRUE(TerminateAllNamed(m_system, lowerName));
    EXPECT_EQ(first.WaitForExit(5000), 0u);
    EXPECT_EQ(second.WaitForExit(5000), 0u);
    EXPECT_FALSE(AnyProcessNamed(m_system, lowerName));
}

TEST_F(Win32SystemTest, TerminationRefusesWhatItCannotOpen)
{
    EXPECT_FALSE(m_system.TerminateProcess(0x7FFFFFF0));  // no process has this id
    EXPECT_FALSE(m_system.TerminateProcess(0));
    EXPECT_FALSE(m_system.TerminateProcess(::GetCurrentProcessId()));
}

TEST_F(Win32SystemTest, ShellOpenPassesArgumentsIntactAndReportsAMissingFile)
{
    const fs::path program = HelperCopy(L"pxopen" + m_tag + L".exe");
    const fs::path report = m_dir.Path() / L"报告.txt";
    const std::u16string parameters
        = U16(L"report 0 " + pxtest::Quoted(report) + LR"( "two words" "say \"hi\"" 中文参数 "路径 D:\a b")");

    std::optional<LaunchedProcess> launched;
    EXPECT_GT(m_system.ShellOpen(U16(program.wstring()), &parameters, &launched), 32);
    const auto lines = WaitForReport(report);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (std::vector<std::u16string>{u"two words", u"say \"hi\"", u"中文参数", u"路径 D:\\a b"}));
    // The process it started is known until it has ended (the helper ends after its report).
    ASSERT_TRUE(launched.has_value());
    EXPECT_TRUE(WaitUntil([&] { return !m_system.IsAlive(*launched); }, 10000));
    m_system.Release(*launched);

    launched.reset();
    EXPECT_EQ(m_system.ShellOpen(U16((m_dir.Path() / L"missing.exe").wstring()), nullptr, &launched), SE_ERR_FNF);
    EXPECT_FALSE(launched.has_value());
}

// Writes a batch file; its path.
fs::path WriteBatch(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << "@echo off\r\n" << text << "\r\n";
    return path;
}

TEST_F(Win32SystemTest, ScriptRunsAsOneWordAndReturnsOnlyWhenItHasEnded)
{
    // The helper writes its report only after half a second: it is there when the call returns.
    const fs::path program = HelperCopy(L"pxcmd" + m_tag + L".exe");
    const fs::path report = m_dir.Path() / L"done.txt";
    // A path with a space and a character cmd would take for a command separator.
    std::string command;
    for (const std::string& part : {std::string("\""), px::ToUtf8(U16(program.wstring())),
             std::string("\" report 500 \""), px::ToUtf8(U16(report.wstring())), std::string("\" finished")})
        command += part;
    const fs::path script = WriteBatch(m_dir.Path() / L"run me&x.cmd", command);
    EXPECT_EQ(m_system.RunScript(U16(script.wstring())), 0);
    ASSERT_TRUE(fs::exists(report));
    EXPECT_EQ(*WaitForReport(report, 0), std::vector<std::u16string>{u"finished"});

    EXPECT_EQ(m_system.RunScript(U16(WriteBatch(m_dir.Path() / L"seven.cmd", "exit /b 7").wstring())), 7);
    // Nothing the interpreter could run.
    EXPECT_EQ(m_system.RunScript(U16((m_dir.Path() / L"missing.cmd").wstring())), std::nullopt);
    EXPECT_EQ(m_system.RunScript(U16(m_dir.Path().wstring())), std::nullopt);
    EXPECT_EQ(m_system.RunScript(u""), std::nullopt);
}

TEST_F(Win32SystemTest, SpaceKeyPressesTheDefaultButtonOfTheDialogBroughtToTheFront)
{
    const std::wstring windowClass = L"PxTestDialog" + m_tag;
    const std::wstring title = L"警告 " + m_tag;
    const fs::path report = m_dir.Path() / L"pressed.txt";
    StartedProcess dialog(HelperPath(), L"dialog " + windowClass + L" \"" + title + L"\" " + pxtest::Quoted(report));
    ASSERT_TRUE(dialog.Started());

    std::vector<TopWindow> windows;
    ASSERT_TRUE(WaitUntil([&] { return !(windows = m_system.FindTopWindows(U16(title))).empty(); }, 10000));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].windowClass, U16(windowClass));
    EXPECT_EQ(windows[0].owner.pid, dialog.Pid());
    EXPECT_TRUE(m_system.FindTopWindows(U16(title + L"!")).empty());
    const std::optional<ForeignWindow> window = windows[0].handle;

    ASSERT_TRUE(m_system.BringToFront(*window));
    m_system.PressSpaceKey();
    const auto lines = WaitForReport(report);
    ASSERT_TRUE(lines.has_value()) << "the space key did not press the button";
    EXPECT_EQ(*lines, std::vector<std::u16string>{u"pressed"});
    ASSERT_TRUE(dialog.WaitForExit(5000).has_value());

    // The window is gone: it cannot come to the front, and the caller is told so.
    EXPECT_FALSE(m_system.BringToFront(*window));
}

uint64_t Ticks(const SYSTEMTIME& time)
{
    FILETIME file{};
    ::SystemTimeToFileTime(&time, &file);
    return (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

TEST_F(Win32SystemTest, LocalTimeIsTheWallClockFieldForField)
{
    SYSTEMTIME before{};
    SYSTEMTIME after{};
    ::GetLocalTime(&before);
    const SystemTime now = m_system.GetLocalTime();
    ::GetLocalTime(&after);
    const SYSTEMTIME copy{
        now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
    EXPECT_LE(Ticks(before), Ticks(copy));
    EXPECT_LE(Ticks(copy), Ticks(after));
    EXPECT_TRUE(now.wDayOfWeek == before.wDayOfWeek || now.wDayOfWeek == after.wDayOfWeek);
}

TEST_F(Win32SystemTest, ModulePathIsTheWholePathInAnyFolder)
{
    const fs::path folder = m_dir.Path() / L"守护 程序";
    fs::create_directory(folder);
    const fs::path program = folder / L"模块.exe";
    fs::copy_file(HelperPath(), program);
    const fs::path report = m_dir.Path() / L"module.txt";
    StartedProcess helper(program, L"modulepath " + pxtest::Quoted(report));
    ASSERT_TRUE(helper.Started());
    const auto lines = WaitForReport(report);
    ASSERT_TRUE(lines.has_value());
    ASSERT_EQ(lines->size(), 1u);
    EXPECT_EQ(lines->front(), U16(program.wstring()));
}

}  // namespace
