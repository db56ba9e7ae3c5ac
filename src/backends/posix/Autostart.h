#pragma once
// The user's XDG autostart entry for one perennix executable, exactly as
// scripts/install-autostart writes it: perennix-<first 12 hex digits of the SHA-256 of the
// executable's path>.desktop in $XDG_CONFIG_HOME/autostart (default ~/.config/autostart),
// named "Perennix (FOLDER)", starting the executable by its quoted path.

#include <optional>
#include <string>

namespace px::posix {

// The entry's path for executable (a real path); nullopt when neither XDG_CONFIG_HOME nor
// HOME names a folder.
std::optional<std::string> AutostartEntryPath(const std::string& executable);
// The entry's text for executable.
std::string AutostartEntryText(const std::string& executable);
// The entry exists and the desktop would start it (not hidden, not switched off); nullopt
// when it cannot be told.
std::optional<bool> IsAutostartEnabled(const std::string& executable);
// Writes (replacing whole) or removes the entry; false on failure, written to standard error.
bool SetAutostart(const std::string& executable, bool enable);

}  // namespace px::posix
