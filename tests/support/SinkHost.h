#pragma once
// What a sink of the guard's events needs around it in a test: the system's virtual clock (the
// log's timestamps, the metrics' minute), the recorded commands, files in memory and the run
// log captured.

#include "CapturedStdout.h"
#include "FakeSystem.h"
#include "MemoryFolder.h"

namespace fake {

struct SinkHost {
    VirtualClock clock;
    FakeSystem system{clock};
    ScopedSystem installed{system};
    testsupport::MemoryFolder memory;
    testsupport::CapturedStdout log;
};

}  // namespace fake
