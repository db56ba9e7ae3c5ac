#include "guard/ProcessMatch.h"

#include <vector>

#include "base/AsciiCase.h"

bool ImageNameMatches(const std::u16string& imageName, const ProcessName& name)
{
    if (imageName.empty() || name.text.empty())
        return false;
    if (px::EqualsIgnoringAsciiCase(imageName, name.text))
        return true;
    return name.isPrefix && imageName.size() > name.text.size()
        && px::EqualsIgnoringAsciiCase(std::u16string_view(imageName).substr(0, name.text.size()), name.text);
}

namespace {

bool CompletedByAnotherName(const ProcessName& cut, const ProcessEntry& process)
{
    for (const ProcessName& n : process.names)
        if (!n.isPrefix && n.text.starts_with(cut.text))
            return true;
    return false;
}

}  // namespace

bool ProcessMatches(const std::u16string& imageName, const ProcessEntry& process)
{
    for (const ProcessName& n : process.names)
        if (ImageNameMatches(imageName, n) && !(n.isPrefix && CompletedByAnotherName(n, process)))
            return true;
    return false;
}

bool AnyProcessNamed(System& system, const GuardedProgram& program)
{
    if (program.imageName.empty())
        return false;
    // The quick scan answers the common case (the program runs under its own name); the
    // full scan is needed only when it finds nothing and the quick names may be partial.
    bool found = false;
    const auto visit = [&](const ProcessEntry& p) {
        found = IsGuardedProcess(system, program, p);
        return !found;
    };
    if (!system.EnumerateProcesses(ProcessDetail::Quick, visit))
        return false;
    if (found || system.QuickNamesAreComplete())
        return found;
    if (!system.EnumerateProcesses(ProcessDetail::Full, visit))
        return false;
    return found;
}

bool IsGuardedProcess(System& system, const GuardedProgram& program, const ProcessEntry& process)
{
    if (!process.ownUser || !ProcessMatches(program.imageName, process))
        return false;
    if (program.commandLine.empty())
        return true;
    // Asked only of the processes the name matched: reading a command line costs more than
    // a name, and most processes are not the program's.
    const std::optional<std::u16string> commandLine = system.CommandLineOf(process.pid, process.startStamp);
    if (!commandLine) {
        program.commandLineUnreadable = true;
        return true;
    }
    return commandLine->find(program.commandLine) != std::u16string::npos;
}

std::optional<std::vector<ProcessId>> ListGuardedProcesses(System& system, const GuardedProgram& program)
{
    if (program.imageName.empty())
        return std::nullopt;
    std::vector<ProcessId> matches;
    const bool listed = system.EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& p) {
        if (IsGuardedProcess(system, program, p))
            matches.push_back({p.pid, p.startStamp});
        return true;
    });
    if (!listed)
        return std::nullopt;
    return matches;
}

namespace {

// Acts on every guarded process; true when act succeeded for at least one.
template <typename Act> bool ForEachGuarded(System& system, const GuardedProgram& program, Act act)
{
    const std::optional<std::vector<ProcessId>> matches = ListGuardedProcesses(system, program);
    bool any = false;
    for (const ProcessId& process : matches.value_or(std::vector<ProcessId>()))
        if (act(process))
            any = true;
    return any;
}

}  // namespace

bool TerminateAllNamed(System& system, const GuardedProgram& program)
{
    return ForEachGuarded(
        system, program, [&](const ProcessId& p) { return system.TerminateProcess(p.pid, p.startStamp); });
}

bool AskAllNamedToClose(System& system, const GuardedProgram& program)
{
    return ForEachGuarded(system, program, [&](const ProcessId& p) { return system.AskToClose(p.pid, p.startStamp); });
}
