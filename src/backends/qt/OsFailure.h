#pragma once
// Every failure the Qt window host swallows is told on standard error, one line each, as CopyQ
// logs its platform's: "perennix: <call> failed: <code> <text>".

#include <QString>

namespace px::qt {

// call names the function and what it was asked ("bind(instance socket)"); code and text are
// what the system or Qt gave for the failure (errno and its text, a D-Bus error's type and
// message).
void LogOsFailure(const char* call, long long code, const QString& text);
// The same for an errno code, with the system's text for it.
void LogErrno(const char* call, int error);

}  // namespace px::qt
