#pragma once
// The run log's entries for the guard's events. Within a run of quick exits an exit like the
// one logged last is only counted, and the count is written when the run ends.

#include <cstdint>
#include <optional>

#include "guard/GuardEvent.h"

class RunLogSink : public GuardSink {
public:
    void OnEvent(const GuardEvent& event) override;

private:
    void LogExit(const GuardEvent& died);
    void WriteRepeats();

    std::optional<ProcessExit> m_lastExit;  // the exit the run logged
    bool m_bLastExitLogged = false;
    int32_t m_nRepeatedExits = 0;  // identical exits since, not logged one by one
    bool m_bCommandLineNoteLogged = false;  // once a start
};
