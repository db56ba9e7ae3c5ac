#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "CapturedStdout.h"
#include "FakeSystem.h"
#include "MemoryFolder.h"
#include "PlatformPath.h"
#include "TempDir.h"
#include "TestGbk.h"
#include "base/Unicode.h"
#include "log/RunLog.h"

namespace {

using testsupport::CapturedStdout;
using testsupport::GbkToUtf8;
using testsupport::PlatformPath;
using testsupport::U8;

class RunLogTest : public ::testing::Test {
protected:
    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
    fake::ScopedSystem installed{system};
    testsupport::MemoryFolder folder;

    void SetUp() override { clock.Set(2020, 2, 3, 0, 7, 5, 9); }
};

TEST_F(RunLogTest, TimestampHasTheLocalTimeToTheMillisecond)
{
    EXPECT_EQ(FormatTimestamp(TIMESTAMP_FORMAT), "2020-02-03 00:07:05.009");
    clock.Set(2019, 10, 20, 23, 1, 43, 42);
    EXPECT_EQ(FormatTimestamp(TIMESTAMP_FORMAT), "2019-10-20 23:01:43.042");
    EXPECT_EQ(FormatTimestamp("%d|%d|%d|%d|%d|%d|%d"), "2019|10|20|23|1|43|42");
    // Whatever the format makes of it, the text stays within the 32-byte buffer.
    EXPECT_EQ(FormatTimestamp("%010d-%010d-%010d-%010d"), "0000002019-0000000010-000000002");
}

TEST(RunLogText, FixedMessagesAreGbk)
{
    EXPECT_EQ(GbkToUtf8(logtext::kInitDone), U8(u8"->对话框初始化完成。。。"));
    EXPECT_EQ(GbkToUtf8(logtext::kCountdownArmed), U8(u8": 距离不足5分钟，开始循环准备。。。"));
    EXPECT_EQ(GbkToUtf8(logtext::kRestartFired), U8(u8" 触发，执行关闭。。。"));
}

// The cases of the path cut are in Paths_test.cpp.
TEST(RunLogText, LogFileIsLogTxtBesideTheExecutable)
{
    EXPECT_EQ(LogPathForModule(PlatformPath(u"/opt/perennix/perennix")), PlatformPath(u"/opt/perennix/log.txt"));
}

TEST(RunLogText, BannerFramesTheBuildDateAndTime)
{
    EXPECT_EQ(BannerLine("Oct 20 2019", "23:01:43"), "---------Oct 20 2019 23:01:43-----------");
    EXPECT_EQ(BannerLine("Feb  3 2020", "00:07:05"), "---------Feb  3 2020 00:07:05-----------");
    // The build's own values have the same shape.
    EXPECT_EQ(BannerLine(__DATE__, __TIME__).size(), 9 + 11 + 1 + 8 + 11u);
}

TEST_F(RunLogTest, LogHoldsTheBannerAndEntriesWithCrLf)
{
    const std::u16string path = folder.File("log.txt");
    folder.Write(path, "the previous run's log\r\nmore\r\n");
    CapturedStdout console;
    {
        RunLog log;
        ASSERT_TRUE(log.Open(path));
        EXPECT_EQ(folder.Read(path), "");  // emptied at once
        log.WriteBanner("Oct 20 2019", "23:01:43");
        WriteLogEntry(logtext::kInitDone);
        // Every entry is in the file as soon as it is written.
        EXPECT_EQ(folder.Read(path),
            std::string("---------Oct 20 2019 23:01:43-----------\r\n2020-02-03 00:07:05.009") + logtext::kInitDone
                + "\r\n");
        clock.Set(2020, 2, 3, 9, 1, 0, 0);
        WriteRestartLogEntry(9 * 60 + 5, logtext::kCountdownArmed);
        WriteRestartLogEntry(0, logtext::kRestartFired);
        log.Close();
        std::cout << "after";
    }
    EXPECT_EQ(folder.Read(path),
        std::string("---------Oct 20 2019 23:01:43-----------\r\n") + "2020-02-03 00:07:05.009" + logtext::kInitDone
            + "\r\n" + "2020-02-03 09:01:00.000->9:5" + logtext::kCountdownArmed + "\r\n"
            + "2020-02-03 09:01:00.000->0:0" + logtext::kRestartFired + "\r\n");
    EXPECT_EQ(console.Text(), "after");
}

TEST_F(RunLogTest, EachEntryGoesToTheFileInOneWriteAtItsEnd)
{
    const std::u16string path = folder.File("log.txt");
    CapturedStdout console;
    RunLog log;
    ASSERT_TRUE(log.Open(path));
    log.WriteBanner("Oct 20 2019", "23:01:43");
    // A rotation copies the file away and truncates it while the program holds it open.
    folder.Write(path, "");
    WriteLogEntry("->x");
    WriteRestartLogEntry(750, logtext::kRestartFired);
    EXPECT_EQ(folder.Read(path),
        std::string("2020-02-03 00:07:05.009->x\r\n") + "2020-02-03 00:07:05.009->12:30" + logtext::kRestartFired
            + "\r\n");
    // Text without a flush waits for one, or for the end of the log.
    std::cout << "->unflushed";
    EXPECT_EQ(folder.Read(path).find("unflushed"), std::string::npos);
    log.Close();
    EXPECT_NE(folder.Read(path).find("->unflushed"), std::string::npos);
}

TEST_F(RunLogTest, WithoutALogFileEntriesAreDroppedAndStandardErrorSaysSoOnce)
{
    folder.files.unwritable.insert(folder.File("unwritable.txt"));
    folder.MakeFolder("folder");
    for (const std::string name : {"missing/log.txt", "unwritable.txt", "folder"}) {
        const std::u16string path = folder.File(name);
        CapturedStdout console;
        ::testing::internal::CaptureStderr();
        {
            RunLog log;
            EXPECT_FALSE(log.Open(path)) << name;
            log.WriteBanner(__DATE__, __TIME__);
            WriteLogEntry(logtext::kInitDone);
            WriteRestartLogEntry(750, logtext::kRestartFired);
            // The destructor gives standard output back, in a good state.
        }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "perennix: running without a log: " + px::ToUtf8(path) + " cannot be opened as a file\n")
            << name;
        std::cout << "still working";
        EXPECT_TRUE(std::cout.good());
        EXPECT_EQ(console.Text(), "still working");
        EXPECT_FALSE(folder.Exists(path)) << name;
    }
}

TEST_F(RunLogTest, ReopeningStartsAFreshLog)
{
    const std::u16string first = folder.File("first.txt");
    const std::u16string second = folder.File("second.txt");
    CapturedStdout console;
    RunLog log;
    ASSERT_TRUE(log.Open(first));
    WriteLogEntry("->one");
    ASSERT_TRUE(log.Open(second));
    WriteLogEntry("->two");
    log.Close();
    log.Close();
    std::cout << "console";
    EXPECT_EQ(folder.Read(first), "2020-02-03 00:07:05.009->one\r\n");
    EXPECT_EQ(folder.Read(second), "2020-02-03 00:07:05.009->two\r\n");
    EXPECT_EQ(console.Text(), "console");
}

}  // namespace
