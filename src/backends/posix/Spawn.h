#pragma once
// Starting programs: the shell's "open" of a file and the blocking command-interpreter run.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace px::posix {

// The codes ShellOpenFile returns, in the numbering of the Win32 shell's "open".
inline constexpr intptr_t kOpenSucceeded = 42;  // any value above 32 is success
inline constexpr intptr_t kOpenFileNotFound = 2;
inline constexpr intptr_t kOpenPathNotFound = 3;
inline constexpr intptr_t kOpenAccessDenied = 5;
inline constexpr intptr_t kOpenOutOfMemory = 8;
inline constexpr intptr_t kOpenBadFormat = 11;
inline constexpr intptr_t kOpenNoAssociation = 31;

// How long ShellOpenFile waits for the desktop's opener to give up before it takes a still
// running opener (the document's application is open) as success.
inline constexpr int kOpenerVerdictMs = 3000;

// True when path names a regular file that this process may execute.
bool IsExecutableFile(const std::string& path);

// Splits text into words like a POSIX shell (blanks separate words; single quotes, double
// quotes and backslashes quote) with no expansion of any kind: $, ~, globs, command
// substitution and operators stay literal text. A blank text gives no words; nullopt when a
// quote is not closed or the text ends in a lone backslash.
std::optional<std::vector<std::string>> SplitArguments(const std::string& text);

// The session a launch was given (the pid of the process that created it) and a time no
// later than that process's start: every process of the launch runs in that session or
// descends from one that did, and started no earlier.
struct LaunchSession {
    pid_t session = 0;
    uint64_t since = 0;  // clock ticks since boot, as a process's start time counts them
};

// Starts file detached from this process: in a new session, standard input from /dev/null,
// standard output and error, the current directory and the environment inherited, no other
// descriptor. An executable regular file runs with the split parameters (nullptr: none);
// any other existing file is handed to the desktop's opener (xdg-open). A file name without
// '/' is looked for in the current directory, then along PATH. Returns kOpenSucceeded or
// the code of the failure; a program that could not be executed is a failure. On success,
// started (when given) gets the pid of the process that runs the program or the opener, and
// session (when given) the launch's session.
intptr_t ShellOpenFile(
    const std::string& file, const std::string* parameters, pid_t* started = nullptr, LaunchSession* session = nullptr);

// Starts "/bin/sh -- path", the file as a script, detached as ShellOpenFile starts a program,
// and returns at once. False when path is no regular file this process can read, or the
// interpreter could not be started. session (when given) gets the script's session.
bool StartScriptFile(const std::string& path, LaunchSession* session = nullptr, pid_t* started = nullptr);

// Starts program (an absolute path, or a name looked up along PATH) with no arguments, as a
// child of this process in a session of its own: the environment given (each "NAME=value"),
// standard input, output and error on /dev/null, no other descriptor, the signals at their
// defaults. Returns its pid, or -1 (logged) when it could not be executed.
pid_t SpawnCommand(const std::string& program, const std::vector<std::string>& environment);

}  // namespace px::posix
