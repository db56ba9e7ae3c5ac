#include "guard/GatewayDialog.h"

#include "guard/ProcessMatch.h"

namespace {

constexpr char16_t kGatewayDialogClass[] = u"SunAwtDialog";
constexpr char16_t kJavaImage[] = u"java";

}  // namespace

bool IsGatewayDialog(const TopWindow& window)
{
    if (window.windowClass == kGatewayDialogClass)
        return true;
    return window.isDialog && ProcessMatches(kJavaImage, window.owner);
}

std::optional<ForeignWindow> FindGatewayDialog(System& system, const std::u16string& title)
{
    for (const TopWindow& window : system.FindTopWindows(title))
        if (IsGatewayDialog(window))
            return window.handle;
    return std::nullopt;
}
