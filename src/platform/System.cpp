#include "platform/System.h"

#include <chrono>
#include <cstdlib>

namespace {
System* g_system = nullptr;
}

System& GetSystem()
{
    // Every entry point installs a system before anything asks for one.
    if (!g_system)
        std::abort();
    return *g_system;
}

void SetSystem(System* system) { g_system = system; }

int64_t System::GetSteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t System::GetUnixTimeMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// A system that cannot tell how its processes end, or run commands, says so.
std::optional<ProcessExit> System::ExitOf(const LaunchedProcess&) { return std::nullopt; }

std::optional<uint64_t> System::RunCommand(const std::u16string&, const std::vector<EnvironmentVariable>&)
{
    return std::nullopt;
}

std::optional<ProcessExit> System::CommandExit(uint64_t) { return std::nullopt; }

// A system that keeps no command lines tells none.
std::optional<std::u16string> System::CommandLineOf(uint32_t, uint64_t) { return std::nullopt; }
// A system without a login start of its own (a test's) has none to show or change.
std::optional<bool> System::IsStartAtLogin() { return std::nullopt; }

bool System::SetStartAtLogin(bool /*enable*/) { return false; }
