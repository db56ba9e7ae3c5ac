#include "guard/GatewayDialog.h"

namespace {

constexpr char16_t kGatewayDialogClass[] = u"SunAwtDialog";
constexpr char16_t kJavaClassPrefix[] = u"SunAwt";
constexpr char16_t kJavaImage[] = u"java";

bool OwnerKnown(const TopWindow& window) { return window.owner.pid != 0 || !window.owner.names.empty(); }

bool ShownByProgram(System& system, const GuardedProgram& program, const TopWindow& window)
{
    return window.owner.pid != 0 && IsGuardedProcess(system, program, window.owner);
}

}  // namespace

bool IsGatewayDialog(const TopWindow& window)
{
    if (window.windowClass == kGatewayDialogClass)
        return true;
    return window.isDialog && ProcessMatches(kJavaImage, window.owner);
}

std::optional<ForeignWindow> FindGatewayDialog(
    System& system, const std::u16string& title, const GuardedProgram* program, const std::set<ForeignWindow>* skip)
{
    const bool filtered = program && !program->commandLine.empty();
    for (const TopWindow& window : system.FindTopWindows(title)) {
        if (!IsGatewayDialog(window) || (skip && skip->count(window.handle)))
            continue;
        if (filtered && !ShownByProgram(system, *program, window))
            continue;
        return window.handle;
    }
    return std::nullopt;
}

std::optional<ForeignWindow> FindProgramWindow(
    System& system, const std::u16string& title, const GuardedProgram& program)
{
    for (const TopWindow& window : system.FindTopWindows(title)) {
        const bool ours = OwnerKnown(window) ? ShownByProgram(system, program, window)
                                             : window.windowClass.starts_with(kJavaClassPrefix);
        if (ours)
            return window.handle;
    }
    return std::nullopt;
}
