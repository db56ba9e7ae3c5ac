#pragma once
// The guard engine on the fake host: a scripted window, the fake system and the virtual clock,
// a program to guard, and the run log as decoded messages.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CapturedStdout.h"
#include "FakeGuardView.h"
#include "FakeSystem.h"
#include "GuardTexts.h"
#include "LogMessages.h"
#include "MemoryFolder.h"
#include "TestGbk.h"
#include "guard/GuardEngine.h"

namespace fake {

class GuardEngineFixture : public ::testing::Test {
protected:
    GuardEngineFixture()
    {
        clock.Set(2026, 3, 10, 12, 0, 0);
        GuardConfig config;
        config.strFullPath = u"/opt/guarded/guarded.exe";
        config.strExeName = u"guarded.exe";
        config.nLoopSec = 10;
        view.settings = config;
        system.launchStartsProcess = u"guarded.exe";
    }

    void Advance(int64_t ms) { view.AdvanceBy(engine, ms); }

    // The run log's messages so far, decoded from GBK, without their timestamps.
    std::vector<std::string> LogMessages() const { return testsupport::LogMessagesOf(log.Text()); }

    testsupport::MemoryFolder memory;  // the file service, for the log's GBK
    testsupport::CapturedStdout log;
    VirtualClock clock;
    FakeSystem system{clock};
    ScopedSystem systemGuard{system};
    FakeGuardView view{clock};
    GuardEngine engine{view};
};

// Two ways a program ends: exit code 3, and SIGKILL.
inline const ProcessExit kExit3{false, 3, u""};
inline const ProcessExit kKilled{true, 9, u"SIGKILL"};

// The fixture at LOOPSEC=1, where a launch starts no process of the image name: each test
// says what its launches start or how they end.
class ExitingProgramFixture : public GuardEngineFixture {
protected:
    ExitingProgramFixture()
    {
        view.settings->nLoopSec = 1;
        system.launchStartsProcess.clear();
    }
};

}  // namespace fake
