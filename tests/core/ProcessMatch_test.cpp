// Finding and ending processes by image name over a scripted process list.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeSystem.h"
#include "guard/ProcessMatch.h"

namespace {

TEST(ProcessMatch, NamesMatchWholeIgnoringAsciiCaseOnly)
{
    struct Case {
        const char16_t* configured;
        ProcessName name;
        bool matches;
    };
    const Case cases[] = {
        {u"notepad.exe", {u"NOTEPAD.EXE", false}, true}, {u"Notepad.exe", {u"notepad.exe", false}, true},
        {u"C:\\Tools\\app.exe", {u"app.exe", false}, false},  // a directory is not part of the name
        {u"app", {u"app.exe", false}, false},  // nor is the extension added
        {u"app.exe", {u"app", false}, false}, {u"", {u"", false}, false},  // an empty name finds nothing
        {u"Écran.exe", {u"écran.exe", false}, false},  // letters outside ASCII: same case only
        {u"écran.exe", {u"écran.exe", false}, true},
        // A name the system cut at 15 bytes matches a longer name that begins with it.
        {u"averyverylongname", {u"averyverylongna", true}, true},
        {u"AVERYVERYLONGNAME", {u"averyverylongna", true}, true},
        {u"averyverylongna", {u"averyverylongna", true}, true}, {u"averyverylong", {u"averyverylongna", true}, false},
        {u"averyverylongname", {u"averyverylongna", false}, false},  // an uncut name must be whole
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageNameMatches(c.configured, c.name), c.matches)
            << std::string(c.name.text.begin(), c.name.text.end());
}

TEST(ProcessMatch, ACutNameCountsOnlyWhenNoCompleteNameOfTheProcessExtendsIt)
{
    const ProcessName cut{u"averyverylongna", true};
    struct Case {
        const char16_t* configured;
        std::vector<ProcessName> names;
        bool matches;
    };
    const Case cases[] = {
        // Nothing says what the cut name was cut from (a script's kernel name beside its
        // interpreter's names): any longer name that begins with it may be the program.
        {u"averyverylongname.sh", {cut, {u"sh", false}}, true},
        {u"averyverylongnaXYZ", {cut}, true},
        // A complete name extends it: the program is that one, and no other long name.
        {u"averyverylongname", {{u"averyverylongname", false}, cut}, true},
        {u"AVERYVERYLONGNAME", {cut, {u"averyverylongname", false}}, true},
        {u"averyverylongnaXYZ", {{u"averyverylongname", false}, cut}, false},
        {u"averyverylongna", {{u"averyverylongname", false}, cut}, false},
        // A complete name as long as the cut one: it was not cut after all.
        {u"averyverylongnaXYZ", {{u"averyverylongna", false}, cut}, false},
        {u"averyverylongna", {{u"averyverylongna", false}, cut}, true},
        // Another cut name does not say what it was cut from.
        {u"averyverylongnaXYZ", {{u"averyverylongname", true}, cut}, true},
    };
    for (const Case& c : cases) {
        ProcessEntry process;
        process.names = c.names;
        EXPECT_EQ(ProcessMatches(c.configured, process), c.matches)
            << std::string(c.configured, c.configured + std::char_traits<char16_t>::length(c.configured));
    }
}

class ProcessListTest : public ::testing::Test {
protected:
    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
};

TEST_F(ProcessListTest, RunningMeansAnyProcessUnderAnyOfItsNames)
{
    system.AddProcessNames({{u"python3", false}, {u"gateway.py", false}});
    EXPECT_TRUE(AnyProcessNamed(system, u"gateway.py"));
    EXPECT_TRUE(AnyProcessNamed(system, u"PYTHON3"));
    EXPECT_FALSE(AnyProcessNamed(system, u"gateway"));
    EXPECT_FALSE(AnyProcessNamed(system, u""));
}

TEST_F(ProcessListTest, QuickScanAnswersAloneWhenItFindsTheProgram)
{
    system.quickNamesComplete = false;
    system.AddProcessNames({{u"kernelname", false}, {u"fullname", false}});
    system.enumerations = 0;
    EXPECT_TRUE(AnyProcessNamed(system, u"kernelname"));
    EXPECT_EQ(system.enumerations, 1);
    // Not among the quick names: the full scan is made and finds it.
    system.enumerations = 0;
    EXPECT_TRUE(AnyProcessNamed(system, u"fullname"));
    EXPECT_EQ(system.enumerations, 2);
    // Where quick names are complete, one scan is the whole answer.
    system.quickNamesComplete = true;
    system.enumerations = 0;
    EXPECT_FALSE(AnyProcessNamed(system, u"missing"));
    EXPECT_EQ(system.enumerations, 1);
}

TEST_F(ProcessListTest, QuickScanOfACutNameJudgesItByTheProcessesOtherNames)
{
    system.quickNamesComplete = false;
    system.AddProcessNames({{u"averyverylongna", true}, {u"averyverylongname", false}});
    system.enumerations = 0;
    EXPECT_FALSE(AnyProcessNamed(system, u"averyverylongnaXYZ"));
    EXPECT_TRUE(AnyProcessNamed(system, u"averyverylongname"));
    EXPECT_EQ(system.enumerations, 3);  // the miss took both scans, the find the quick one alone
}

TEST_F(ProcessListTest, UnreadableProcessListMeansNotRunning)
{
    system.AddProcess(u"app.exe");
    system.snapshotFails = true;
    EXPECT_FALSE(AnyProcessNamed(system, u"app.exe"));
    EXPECT_FALSE(TerminateAllNamed(system, u"app.exe"));
    EXPECT_EQ(system.processes.size(), 1u);
}

TEST_F(ProcessListTest, TerminateEndsEveryMatchAndReportsWhetherAnyCouldBeOpened)
{
    const uint32_t a = system.AddProcess(u"app.exe");
    const uint32_t other = system.AddProcess(u"other.exe");
    const uint32_t b = system.AddProcess(u"APP.EXE");
    EXPECT_TRUE(TerminateAllNamed(system, u"app.exe"));
    EXPECT_EQ(system.terminated, (std::vector<uint32_t>{a, b}));
    ASSERT_EQ(system.processes.size(), 1u);
    EXPECT_EQ(system.processes[0].pid, other);
    EXPECT_FALSE(TerminateAllNamed(system, u"app.exe"));  // nothing left to end
    EXPECT_FALSE(TerminateAllNamed(system, u""));

    // A match that cannot be opened still runs, is skipped, and alone gives false.
    system.AddProcess(u"locked.exe", /*canOpen=*/false);
    EXPECT_TRUE(AnyProcessNamed(system, u"locked.exe"));
    EXPECT_FALSE(TerminateAllNamed(system, u"locked.exe"));
    const uint32_t open = system.AddProcess(u"locked.exe");
    EXPECT_TRUE(TerminateAllNamed(system, u"locked.exe"));
    EXPECT_EQ(system.terminated.back(), open);
    EXPECT_EQ(system.CountProcessesNamed(u"locked.exe"), 1u);
}

}  // namespace
