// The Windows system services against real programs: the process snapshot and termination,
// the shell's open, the command interpreter, window lookup, the foreground and the space key, the Run key.

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "TempDir.h"
#include "Win32TestSupport.h"
#include "backends/win32/Win32System.h"
#include "backends/win32/WinPrelude.h"
#include "base/Unicode.h"
#include "guard/ProcessMatch.h"
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

    // The start stamp the process list gives the process (0: not listed).
    uint64_t StartStampOf(uint32_t pid)
    {
        uint64_t stamp = 0;
        m_system.EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& e) {
            if (e.pid == pid)
                stamp = e.startStamp;
            return true;
        });
        return stamp;
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
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_system.TerminateProcess(0x7FFFFFF0, 0));  // no process has this id
    EXPECT_FALSE(m_system.TerminateProcess(0, 0));
    EXPECT_FALSE(m_system.TerminateProcess(::GetCurrentProcessId(), 0));
    // An id names the listed process only with its creation time.
    StartedProcess helper(HelperPath(), L"sleep");
    ASSERT_TRUE(helper.Started());
    const uint64_t stamp = StartStampOf(helper.Pid());
    ASSERT_NE(stamp, 0u);
    EXPECT_FALSE(m_system.TerminateProcess(helper.Pid(), stamp + 1));
    EXPECT_FALSE(helper.WaitForExit(200).has_value());
    EXPECT_TRUE(m_system.TerminateProcess(helper.Pid(), stamp));
    EXPECT_TRUE(helper.WaitForExit(5000).has_value());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // no process to end is no failure
}

TEST_F(Win32SystemTest, ShellOpenPassesArgumentsIntactKeepsTheProcessAndReportsAMissingFile)
{
    const fs::path program = HelperCopy(L"pxopen" + m_tag + L".exe");
    const fs::path report = m_dir.Path() / L"报告.txt";
    const std::u16string parameters
        = U16(L"report 300 " + pxtest::Quoted(report) + LR"( "two words" "say \"hi\"" 中文参数 "路径 D:\a b")");

    std::optional<LaunchedProcess> launched;
    EXPECT_GT(m_system.ShellOpen(U16(program.wstring()), &parameters, &launched), 32);
    ASSERT_TRUE(launched.has_value());
    EXPECT_TRUE(m_system.IsAlive(*launched));  // it waits 300 ms before it reports and ends
    const auto lines = WaitForReport(report);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (std::vector<std::u16string>{u"two words", u"say \"hi\"", u"中文参数", u"路径 D:\\a b"}));
    EXPECT_TRUE(WaitUntil([&] { return !m_system.IsAlive(*launched); }, 5000));
    m_system.Release(*launched);

    // The shell's refusal leaves a line on standard error with the file and the system's code.
    std::optional<LaunchedProcess> none;
    const fs::path missing = m_dir.Path() / L"missing.exe";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(m_system.ShellOpen(U16(missing.wstring()), nullptr, &none), SE_ERR_FNF);
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(none.has_value());
    const std::string start = "perennix: ShellExecuteExW " + px::ToUtf8(U16(missing.wstring())) + " failed: 2 ";
    EXPECT_TRUE(logged.starts_with(start) && logged.find('\n') == logged.size() - 1) << logged;
}

TEST_F(Win32SystemTest, TheLaunchedProgramsExitCodeAndACommandsEnvironmentAndExitAreKnown)
{
    const fs::path program = HelperCopy(L"pxexit" + m_tag + L".exe");
    const std::u16string parameters = u"exit 3";
    std::optional<LaunchedProcess> launched;
    ASSERT_GT(m_system.ShellOpen(U16(program.wstring()), &parameters, &launched), 32);
    ASSERT_TRUE(launched.has_value());
    ASSERT_TRUE(WaitUntil([&] { return !m_system.IsAlive(*launched); }, 5000));
    EXPECT_EQ(m_system.ExitOf(*launched), (ProcessExit{false, 3, u""}));
    m_system.Release(*launched);

    // An event command: the program alone, the variables in its environment, its exit told once.
    const fs::path report = m_dir.Path() / L"事件.txt";
    const std::optional<uint64_t> id = m_system.RunCommand(
        U16(program.wstring()), {{u"PERENNIX_EVENT", u"died"}, {u"PX_ENV_REPORT", U16(report.wstring())}});
    ASSERT_TRUE(id.has_value());
    std::optional<ProcessExit> exit;
    ASSERT_TRUE(WaitUntil([&] { return (exit = m_system.CommandExit(*id)).has_value(); }, 5000));
    EXPECT_EQ(exit, (ProcessExit{false, 5, u""}));
    EXPECT_FALSE(m_system.CommandExit(*id).has_value());
    EXPECT_EQ(WaitForReport(report), std::vector<std::u16string>{u"died"});

    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_system.RunCommand(U16((m_dir.Path() / L"missing.exe").wstring()), {}).has_value());
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("CreateProcessW"), std::string::npos);
}

TEST_F(Win32SystemTest, ScriptRunsAsOneWordBesideTheProgram)
{
    // Folders and scripts whose names the interpreter would otherwise read as command text.
    const fs::path folder = m_dir.Path() / L"脚本 & 100%^PATH%";
    fs::create_directory(folder);
    const fs::path program = folder / (L"pxcmd" + m_tag + L".exe");
    fs::copy_file(HelperPath(), program);
    const fs::path report = m_dir.Path() / L"done.txt";
    // (A script is read in the console's code page, and a "%" of a name is written "%%" in it.)
    const auto inScript = [](const fs::path& path) {
        const std::wstring wide = path.wstring();
        std::string bytes(wide.size() * 4, '\0');
        bytes.resize(static_cast<size_t>(::WideCharToMultiByte(CP_OEMCP, 0, wide.data(), static_cast<int>(wide.size()),
            bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
        return bytes;
    };
    std::string programInScript = inScript(program);
    for (size_t at = programInScript.find('%'); at != std::string::npos; at = programInScript.find('%', at + 2))
        programInScript.insert(at, 1, '%');
    // WORKAROUND: Wine's interpreter expands a variable named inside another's value again
    // (Windows' does not), so a name holding a defined variable such as %PATH% is not run there.
    for (const std::wstring name : {L"run me.bat", L"a&mkdir PWN&b.bat", L"c^d 100%.bat", L"e%f^g.bat"}) {
        SCOPED_TRACE(px::ToUtf8(U16(name)));
        fs::remove(report);
        const fs::path script = folder / name;
        // The helper reports a second after it starts: the call returns long before.
        std::ofstream(script) << "@\"" << programInScript << "\" report 1000 \"" << inScript(report)
                              << "\" finished\r\n@exit /b 7\r\n";
        std::optional<LaunchedProcess> launched;
        ASSERT_TRUE(m_system.StartScript(U16(script.wstring()), &launched));
        ASSERT_TRUE(launched.has_value());
        EXPECT_FALSE(fs::exists(report)) << "the call waited for the script";
        EXPECT_TRUE(m_system.IsAlive(*launched));
        const auto lines = WaitForReport(report);
        ASSERT_TRUE(lines.has_value());
        EXPECT_EQ(*lines, std::vector<std::u16string>{u"finished"});
        EXPECT_TRUE(WaitUntil([&] { return !m_system.IsAlive(*launched); }, 10000));
        m_system.Release(*launched);
    }
    EXPECT_FALSE(fs::exists(folder / L"PWN"));
    EXPECT_FALSE(fs::exists(m_dir.Path() / L"PWN"));

    EXPECT_FALSE(m_system.StartScript(U16((folder / L"missing.bat").wstring()), nullptr));
    EXPECT_FALSE(m_system.StartScript(u"", nullptr));
}

TEST_F(Win32SystemTest, AProgramIsKnownByItsExtensionInAnyCase)
{
    const struct {
        const char16_t* path;
        bool program;
    } cases[] = {
        {u"C:\\App\\Client.Exe", true},
        {u"C:\\App\\SERVER.EXE", true},
        {u"C:\\App\\tool.com", true},
        {u"C:\\App\\start.bat", false},
        {u"C:\\App\\report.exe.txt", false},
        {u"C:\\App.exe\\start", false},
        {u"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m_system.IsExecutableProgram(c.path), c.program) << px::ToUtf8(c.path);
}

// A launcher script that starts the program and returns leaves the launch alive in the
// program, and ending the launch ends the program; a launcher that waits for it goes with it.
TEST_F(Win32SystemTest, ALaunchIsEveryProcessItStartedUntilTheLastEnds)
{
    const std::wstring image = L"pxtree" + m_tag + L".exe";
    const fs::path program = HelperCopy(image);
    const struct {
        const char* name;
        const char* start;  // how the launcher starts the program
    } cases[] = {
        {"a launcher that returns", "@start \"\" "},
        {"a launcher that waits", "@"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path launcher = m_dir.Path() / L"launch.cmd";
        std::ofstream(launcher) << c.start << "\"" << program.string() << "\" sleep\r\n@exit /b 0\r\n";
        std::optional<LaunchedProcess> launched;
        if (std::string(c.start) == "@") {
            // Through the shell's open the interpreter does not block this thread.
            const std::u16string parameters = U16(L"/c \"\"" + launcher.wstring() + L"\"\"");
            ASSERT_GT(m_system.ShellOpen(u"cmd.exe", &parameters, &launched), 32);
        } else {
            ASSERT_TRUE(m_system.StartScript(U16(launcher.wstring()), &launched));
        }
        ASSERT_TRUE(launched.has_value());
        ASSERT_TRUE(WaitUntil([&] { return AnyProcessNamed(m_system, U16(image)); }, 10000));
        EXPECT_TRUE(m_system.IsAlive(*launched));

        EXPECT_TRUE(m_system.TerminateLaunched(*launched));
        EXPECT_TRUE(WaitUntil([&] { return !AnyProcessNamed(m_system, U16(image)); }, 10000));
        EXPECT_TRUE(WaitUntil([&] { return !m_system.IsAlive(*launched); }, 10000));
        EXPECT_FALSE(m_system.TerminateLaunched(*launched));
        m_system.Release(*launched);
    }
}

TEST_F(Win32SystemTest, ProcessesOfThisUserAreItsOwn)
{
    StartedProcess helper(HelperPath(), L"sleep");
    ASSERT_TRUE(helper.Started());
    bool own = false;
    m_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        own = own || (e.pid == helper.Pid() && e.ownUser);
        return true;
    });
    EXPECT_TRUE(own);
}

TEST_F(Win32SystemTest, TopWindowsByTitleWithClassKindAndOwner)
{
    const std::wstring title = L"警告 " + m_tag;
    // One window of the helper, of a class of its own; one dialog of this test process.
    const fs::path report = m_dir.Path() / L"pressed.txt";
    StartedProcess helper(HelperPath(), L"dialog PxPlain" + m_tag + L" \"" + title + L"\" " + pxtest::Quoted(report));
    ASSERT_TRUE(helper.Started());
    const HWND dialog = ::CreateWindowExW(
        0, L"#32770", title.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(dialog, nullptr);

    std::vector<TopWindow> windows;
    ASSERT_TRUE(WaitUntil([&] { return (windows = m_system.FindTopWindows(U16(title))).size() == 2; }, 10000));
    std::sort(
        windows.begin(), windows.end(), [](const TopWindow& a, const TopWindow& b) { return a.isDialog < b.isDialog; });
    EXPECT_EQ(windows[0].windowClass, U16(L"PxPlain" + m_tag));
    EXPECT_FALSE(windows[0].isDialog);
    EXPECT_EQ(windows[0].owner.pid, helper.Pid());
    ASSERT_EQ(windows[0].owner.names.size(), 1u);
    EXPECT_EQ(windows[0].owner.names[0].text, u"px_winhelper.exe");
    EXPECT_EQ(windows[1].handle, static_cast<ForeignWindow>(reinterpret_cast<uintptr_t>(dialog)));
    EXPECT_EQ(windows[1].windowClass, u"#32770");
    EXPECT_TRUE(windows[1].isDialog);
    EXPECT_EQ(windows[1].owner.pid, ::GetCurrentProcessId());
    EXPECT_TRUE(m_system.FindTopWindows(U16(title + L"!")).empty());
    ::DestroyWindow(dialog);
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
    const ForeignWindow window = windows.front().handle;

    ASSERT_TRUE(m_system.BringToFront(window));
    m_system.PressSpaceKey();
    const auto lines = WaitForReport(report);
    ASSERT_TRUE(lines.has_value()) << "the space key did not press the button";
    EXPECT_EQ(*lines, std::vector<std::u16string>{u"pressed"});
    ASSERT_TRUE(dialog.WaitForExit(5000).has_value());

    // The window is gone: it cannot come to the front, and the caller is told so.
    EXPECT_FALSE(m_system.BringToFront(window));
}

// The command line a process was started with, as MATCH_CMDLINE reads it; none for a process
// that has gone, or for a pid reused since (another start stamp).
TEST_F(Win32SystemTest, CommandLineOfAProcessIsTheLineItWasStartedWith)
{
    StartedProcess helper(HelperPath(), L"sleep --role=ibgateway " + m_tag);
    ASSERT_TRUE(helper.Started());
    const uint64_t stamp = StartStampOf(helper.Pid());
    const std::optional<std::u16string> line = m_system.CommandLineOf(helper.Pid(), stamp);
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find(U16(L"sleep --role=ibgateway " + m_tag)), std::u16string::npos) << px::ToUtf8(*line);
    EXPECT_NE(line->find(u"px_winhelper"), std::u16string::npos) << px::ToUtf8(*line);
    EXPECT_FALSE(m_system.CommandLineOf(helper.Pid(), stamp + 1).has_value());
    EXPECT_FALSE(m_system.CommandLineOf(0, 0).has_value());
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

// Start at login is the value "Perennix" of the user's Run key holding this program's quoted
// path; what is shown is the value as it is, also after another tool changed it.
TEST_F(Win32SystemTest, StartAtLoginIsTheRunKeysValueForThisProgram)
{
    constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::u16string module = m_system.GetModuleFileName();
    const std::wstring program(module.begin(), module.end());
    const auto read = [&]() -> std::optional<std::wstring> {
        wchar_t data[4096] = {};
        DWORD size = sizeof data;
        if (::RegGetValueW(HKEY_CURRENT_USER, kRun, L"Perennix", RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(data);
    };
    const auto writeOutside = [&](const std::wstring& value) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kRun, L"Perennix", REG_SZ, value.c_str(),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
    };
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRun, L"Perennix");
    EXPECT_EQ(m_system.IsStartAtLogin(), false);

    ASSERT_TRUE(m_system.SetStartAtLogin(true));
    EXPECT_EQ(read(), L"\"" + program + L"\"");
    EXPECT_EQ(m_system.IsStartAtLogin(), true);

    // Changed by another tool: this program in another letter case and unquoted is still it;
    // another program, or the value gone, is not.
    std::wstring upper = program;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(::towupper(c));
    const std::pair<std::optional<std::wstring>, bool> outside[] = {
        {upper, true},
        {L"\"C:\\Other\\Perennix.exe\"", false},
        {std::nullopt, false},
        {L"\"" + program + L"\"", true},
    };
    for (const auto& [value, on] : outside) {
        if (value)
            writeOutside(*value);
        else
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRun, L"Perennix");
        EXPECT_EQ(m_system.IsStartAtLogin(), on) << (value ? px::ToUtf8(U16(*value)) : "no value");
    }

    ASSERT_TRUE(m_system.SetStartAtLogin(false));
    EXPECT_EQ(read(), std::nullopt);
    EXPECT_EQ(m_system.IsStartAtLogin(), false);
    EXPECT_TRUE(m_system.SetStartAtLogin(false)) << "removing what is not there is no failure";
}

}  // namespace
