#pragma once
// Which top-level window counts as one of the trading gateway's warning and re-login dialogs,
// and as one of its login windows.

#include <optional>
#include <set>
#include <string>

#include "guard/ProcessMatch.h"
#include "platform/System.h"

// A dialog of the gateway's kind: of window class "SunAwtDialog" (a Java dialog where the
// system names window classes so), or, where the system knows no such class (Java on X11),
// a dialog window shown by a process whose image is java.
bool IsGatewayDialog(const TopWindow& window);

// The topmost gateway dialog with exactly this title, or none. Windows in skip are passed
// over. With a program whose command line is filtered, only a dialog shown by one of the
// program's processes counts: another Java program's dialog of the same title is not the
// gateway's.
std::optional<ForeignWindow> FindGatewayDialog(System& system, const std::u16string& title,
    const GuardedProgram* program = nullptr, const std::set<ForeignWindow>* skip = nullptr);

// The topmost window with exactly this title shown by one of the program's processes (or,
// where the system does not tell who shows it, a Java window), or none.
std::optional<ForeignWindow> FindProgramWindow(
    System& system, const std::u16string& title, const GuardedProgram& program);
