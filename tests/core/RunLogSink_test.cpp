// The run log as a sink of the guard's events, fed events directly: the folding of repeated
// exits within a run of quick exits, and the note of an unreadable command line once a start.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogMessages.h"
#include "SinkHost.h"
#include "guard/RunLogSink.h"

namespace {

GuardEvent Died(const ProcessExit& exit, int64_t quickExitsBefore)
{
    GuardEvent died(GuardEventKind::Died);
    died.exit = exit;
    died.bFlag = true;
    died.number = quickExitsBefore;
    return died;
}

TEST(RunLogSink, RepeatedExitsOfARunAreCountedInOneLineWhenTheRunEnds)
{
    fake::SinkHost f;
    RunLogSink sink;
    const ProcessExit exit3{false, 3, u""};
    const ProcessExit killed{true, 9, u"SIGKILL"};
    sink.OnEvent(Died(exit3, 0));
    sink.OnEvent(Died(exit3, 1));
    sink.OnEvent(Died(exit3, 2));
    sink.OnEvent(Died(killed, 3));  // another exit: the count so far is written first
    sink.OnEvent(Died(killed, 4));
    sink.OnEvent(GuardEvent(GuardEventKind::BackoffEnded));
    sink.OnEvent(Died(killed, 0));  // a new run: logged again
    EXPECT_EQ(testsupport::LogMessagesOf(f.log.Text()),
        (std::vector<std::string>{"->程序已退出，退出码：3", "->同样的退出又重复了 2 次",
            "->程序已退出，被信号结束：SIGKILL (9)", "->同样的退出又重复了 1 次",
            "->程序已退出，被信号结束：SIGKILL (9)"}));
}

TEST(RunLogSink, AnUnreadableCommandLineIsNotedOnceAStart)
{
    fake::SinkHost f;
    RunLogSink sink;
    GuardEvent note(GuardEventKind::CommandLineUnreadable);
    note.detail = u"java";
    sink.OnEvent(note);
    sink.OnEvent(note);
    sink.OnEvent(GuardEvent(GuardEventKind::Started));
    sink.OnEvent(note);
    const std::vector<std::string> messages = testsupport::LogMessagesOf(f.log.Text());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "->无法读取进程的命令行，此类进程仅按进程名匹配：java");
    EXPECT_EQ(messages[2], messages[0]);
}

}  // namespace
