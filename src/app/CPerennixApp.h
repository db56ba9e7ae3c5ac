#pragma once
// The application: opens the run log, writes the banner, runs the main dialog modally and
// closes the log. The platform's entry point installs the window host and the system
// services first.

#include "log/RunLog.h"

class CPerennixApp {
public:
    CPerennixApp() = default;
    // Always false: the application ends when it returns.
    bool InitInstance();

    RunLog m_ofsLog;
};
