#include "backends/posix/Autostart.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backends/posix/AutostartTemplate.h"
#include "backends/posix/OsFailure.h"

namespace px::posix {
namespace {

std::optional<std::string> AutostartFolder()
{
    // As the shell's ${XDG_CONFIG_HOME:-$HOME/.config}: an empty value counts as unset.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config)
        return std::string(config) + "/autostart";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config/autostart";
    return std::nullopt;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The Exec value: the path in double quotes with \, ", ` and $ escaped, every backslash then
// doubled by the value's own escaping, and a % written %%.
std::string ExecValue(const std::string& executable)
{
    std::string quoted;
    for (char c : executable) {
        if (c == '\\')
            quoted += "\\\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            quoted += std::string("\\\\") + c;
        else if (c == '%')
            quoted += "%%";
        else
            quoted += c;
    }
    return "\"" + quoted + "\"";
}

std::string DoubledBackslashes(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\\')
            out += c;
    }
    return out;
}

// mkdir -p: the folder and its missing parents.
bool MakeFolders(const std::string& folder)
{
    struct stat st { };
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent))
        return false;
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        LogOsFailure("mkdir", folder, errno);
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> AutostartEntryPath(const std::string& executable)
{
    const std::optional<std::string> folder = AutostartFolder();
    if (!folder)
        return std::nullopt;
    gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(executable.data()), executable.size());
    const std::string hash(digest, 12);
    g_free(digest);
    return *folder + "/perennix-" + hash + ".desktop";
}

std::string AutostartEntryText(const std::string& executable)
{
    std::string text;
    std::istringstream lines{std::string(kDesktopEntryTemplate)};
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("Name="))
            text += "Name=Perennix (" + DoubledBackslashes(FolderOf(executable)) + ")\n";
        else if (line.starts_with("Exec="))
            text += "Exec=" + ExecValue(executable) + "\nX-GNOME-Autostart-enabled=true\n";
        else
            text += line + "\n";
    }
    return text;
}

std::optional<bool> IsAutostartEnabled(const std::string& executable)
{
    const std::optional<std::string> path = AutostartEntryPath(executable);
    if (!path)
        return std::nullopt;
    std::ifstream entry(*path);
    if (!entry) {
        struct stat st { };
        // Nothing there, or a file where a folder of its path should be: no entry can exist.
        if (::stat(path->c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
            return false;
        return std::nullopt;
    }
    // The desktop's own settings switch an entry off without removing it.
    std::string line;
    while (std::getline(entry, line))
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    return true;
}

bool SetAutostart(const std::string& executable, bool enable)
{
    const std::optional<std::string> path = AutostartEntryPath(executable);
    if (!path) {
        LogFailure("autostart", "XDG_CONFIG_HOME/HOME", 0, "neither is set");
        return false;
    }
    if (!enable) {
        if (::unlink(path->c_str()) != 0 && errno != ENOENT) {
            LogOsFailure("unlink", *path, errno);
            return false;
        }
        return true;
    }
    const std::string folder = FolderOf(*path);
    if (!MakeFolders(folder))
        return false;
    std::string temp = folder + "/.perennix-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        LogOsFailure("mkstemp", temp, errno);
        return false;
    }
    const std::string text = AutostartEntryText(executable);
    bool ok = ::fchmod(fd, 0644) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    if (!ok)
        LogOsFailure("write", temp, errno);
    if (::close(fd) != 0 && ok) {
        LogOsFailure("close", temp, errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path->c_str()) != 0) {
        LogOsFailure("rename", *path, errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

}  // namespace px::posix
