#pragma once
// Which top-level window counts as one of the trading gateway's warning and re-login dialogs.

#include <optional>
#include <string>

#include "platform/System.h"

// A dialog of the gateway's kind: of window class "SunAwtDialog" (a Java dialog where the
// system names window classes so), or, where the system knows no such class (Java on X11),
// a dialog window shown by a process whose image is java.
bool IsGatewayDialog(const TopWindow& window);

// The topmost gateway dialog with exactly this title, or none.
std::optional<ForeignWindow> FindGatewayDialog(System& system, const std::u16string& title);
