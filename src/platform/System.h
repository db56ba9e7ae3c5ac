#pragma once
// The system layer: the operating-system services the program needs, with no decision in
// them. Name matching, the launch-mode rule and the schedule stay in the portable code;
// a back end only reports and acts.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The local wall-clock time, field for field like the platform's SYSTEMTIME.
struct SystemTime {
    uint16_t wYear = 1970;
    uint16_t wMonth = 1;  // 1 to 12
    uint16_t wDayOfWeek = 4;  // 0 = Sunday
    uint16_t wDay = 1;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// One name under which a process can be recognised.
struct ProcessName {
    std::u16string text;
    // The system cut this name: the process's real name begins with text and may go on
    // (Linux keeps only the first 15 bytes of a kernel name).
    bool isPrefix = false;
};

// One process of a point-in-time list.
struct ProcessEntry {
    uint32_t pid = 0;
    std::vector<ProcessName> names;
    // The process belongs to the user this program runs as (false: another user's, or one
    // whose owner the system would not tell).
    bool ownUser = true;
    // When the process started, in the system's own unit (Linux: clock ticks since boot;
    // Windows: its creation time); with the pid it names one process for good. 0: unknown.
    uint64_t startStamp = 0;
};

// How much naming a process scan gathers.
enum class ProcessDetail {
    Quick,  // the cheapest name the system keeps for each process; all of them where it is cut
    Full,  // every name the process can be recognised by
};

// What one launch of this program started: the process and every process it starts in turn,
// directly or through others (a launcher script and the program it runs, also after the
// launcher returned). The system knows it while any process of it lives: on Linux the first
// process's pid and start time (so that a reused pid is never taken for it), on Windows a job
// object that every process of the launch belongs to.
struct LaunchedProcess {
    uint64_t id = 0;
    uint64_t stamp = 0;
    bool operator==(const LaunchedProcess&) const = default;
};

// How a process ended.
struct ProcessExit {
    bool bySignal = false;  // ended by a signal (Linux) rather than by exiting
    int64_t code = 0;  // the exit code, or the signal's number
    std::u16string signalName;  // the signal's name ("SIGKILL"), when ended by one
    bool operator==(const ProcessExit&) const = default;
};

// One variable of a command's environment.
struct EnvironmentVariable {
    std::u16string name;
    std::u16string value;
};

// Opaque reference to a top-level window of another program.
using ForeignWindow = uint64_t;

// What the system says of a top-level window of another program.
struct TopWindow {
    ForeignWindow handle = 0;
    std::u16string windowClass;  // the system's name for its kind of window
    bool isDialog = false;  // the system marks it as a dialog window
    ProcessEntry owner;  // the process that shows it, with every name; pid 0 and no names: unknown
};

// Where a TCP connection attempt stands.
enum class ConnectState {
    Pending,  // neither accepted nor refused yet
    Accepted,
    Refused,  // refused, unreachable, or could not be started
};

// What the guarded program's top-level windows answered.
struct WindowAnswer {
    int judged = 0;  // windows that could be asked (a window that cannot is not judged)
    int unanswered = 0;  // of them, those that did not answer (hung)
};

class System {
public:
    virtual ~System() = default;

    // Visits each process of one snapshot until visit returns false. False when the process
    // list could not be read at all.
    virtual bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) = 0;
    // True when a Quick scan already reports every name a Full scan would.
    virtual bool QuickNamesAreComplete() const = 0;
    // Ends a process at once, without waiting; false when it could not be opened.
    // With a startStamp (not 0), only the process that started then is ended: a pid reused
    // since the list was taken names another process, which is left alone.
    virtual bool TerminateProcess(uint32_t pid, uint64_t startStamp) = 0;

    // The shell's "open" of file with optional parameters (nullptr: none); returns at once
    // with a code like ShellExecuteW's: above 32 is success. When launched is given and the
    // system knows the process it started, it is stored there.
    virtual intptr_t ShellOpen(
        const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
        = 0;
    // A process of the launch still lives.
    virtual bool IsAlive(const LaunchedProcess& process) = 0;
    // Ends every process of the launch at once, without waiting; true when at least one was
    // told to end.
    virtual bool TerminateLaunched(const LaunchedProcess& process) = 0;
    // Lets go of what the system keeps for a launch; its processes run on.
    virtual void Release(const LaunchedProcess& process) = 0;
    // True when path names a program that the shell's "open" starts by itself although its
    // path does not spell "exe" or "EXE" (on Linux: a regular file with execute permission; on
    // Windows: a .exe or .com name in any letter case, such as "Client.Exe").
    virtual bool IsExecutableProgram(const std::u16string& path) = 0;
    // True when path names a script that only the command interpreter runs, wherever it lies
    // and whatever its name holds (on Linux: a file that is not executable and begins with
    // "#!" or is named *.sh; the desktop's opener would show it in an editor). False where
    // the program's name alone decides (Windows).
    virtual bool IsScriptFile(const std::u16string& path) = 0;
    // Starts the file at path with the system's command interpreter and returns at once: the
    // script runs beside this program as a launch like any other, never on its thread. The
    // path is one word of the interpreter's command, never command text of its own. False when
    // the interpreter could not run the file (no process, no interpreter, or a file it cannot
    // read). When launched is given, it gets the launch: the interpreter and all it starts.
    virtual bool StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched) = 0;

    // How the first process of the launch (the program, or the interpreter of a script) ended;
    // none while it runs, or when the system cannot tell (another reaper took it).
    virtual std::optional<ProcessExit> ExitOf(const LaunchedProcess& process);
    // Starts program (no shell, no arguments) with this process's environment plus the given
    // variables, detached, and returns at once; the id to ask CommandExit with, or none when
    // it could not be started. Its output goes nowhere: a command that floods it or never
    // ends holds nothing of this program.
    virtual std::optional<uint64_t> RunCommand(
        const std::u16string& program, const std::vector<EnvironmentVariable>& environment);
    // How a command of RunCommand ended, once: none while it runs. Once told, the id is gone.
    virtual std::optional<ProcessExit> CommandExit(uint64_t id);

    // The process's command line as one text (Linux: its arguments joined by spaces; Windows:
    // the line it was started with); none when the system will not tell (the process has
    // gone, belongs to another user, or the system keeps no such record). startStamp as for
    // TerminateProcess.
    virtual std::optional<std::u16string> CommandLineOf(uint32_t pid, uint64_t startStamp);

    // Every top-level window with exactly this title, topmost first.
    virtual std::vector<TopWindow> FindTopWindows(const std::u16string& title) = 0;
    // Brings the window to the front; true when it (or a child of it) now holds the keyboard focus.
    virtual bool BringToFront(ForeignWindow window) = 0;
    // Synthesises one press of the space key (down, then up) to the focused window.
    virtual void PressSpaceKey() = 0;

    // Asks a process to close by itself (Windows: WM_CLOSE to its top-level windows; Linux:
    // SIGTERM) and returns at once; false when it could not be asked. startStamp as for
    // TerminateProcess.
    virtual bool AskToClose(uint32_t pid, uint64_t startStamp) = 0;

    // Health probes: the system reports, the guard judges.
    // Starts connecting to a dotted IPv4 host and port without waiting; an id to poll with.
    virtual uint64_t StartConnect(const std::u16string& host, uint16_t port) = 0;
    // Where the attempt stands now, without waiting (an unknown id: Refused).
    virtual ConnectState PollConnect(uint64_t id) = 0;
    // Drops the attempt and closes its connection.
    virtual void EndConnect(uint64_t id) = 0;
    // Milliseconds since the file was last modified, by the wall clock (negative: a time in
    // the future); none when the file cannot be read.
    virtual std::optional<int64_t> FileAgeMs(const std::u16string& path) = 0;
    // Starts a look at the top-level windows of these processes (X11: sends each window that
    // takes pings a _NET_WM_PING); WindowsAnswered, on a later tick, says what they answered.
    virtual void AskWindows(const std::vector<uint32_t>& pids) = 0;
    // What the windows of the last AskWindows answered since (Windows: whether the system
    // counts them as hung now).
    virtual WindowAnswer WindowsAnswered() = 0;

    // The wall-clock time in the time zone in force at the moment of reading: a change of the
    // zone while the program runs shows at the next reading (as a jump of the wall clock).
    virtual SystemTime GetLocalTime() = 0;
    // Milliseconds of a clock that runs at the pace of real time, also while the machine
    // sleeps, and that nothing sets: a change of the wall clock (daylight saving time, a clock
    // set by hand) does not move it, and a night asleep is time passed, not a change of the
    // wall clock (a restart time slept through is missed, as one the program was not running
    // for). Only differences of it mean anything. By default the C++ library's steady clock.
    virtual int64_t GetSteadyMs();
    // Milliseconds since 1970-01-01 00:00 UTC. By default the C++ library's system clock.
    virtual int64_t GetUnixTimeMs();
    // The running executable's full path.
    virtual std::u16string GetModuleFileName() = 0;

    // Whether the desktop starts this executable when the user logs in, as the system records
    // it at this moment (another tool may have changed it since the program last looked);
    // nullopt when the record cannot be read. Windows: the user's Run key; Linux: the user's
    // XDG autostart entry for this executable.
    virtual std::optional<bool> IsStartAtLogin();
    // Records (enable) or removes the start at login of this executable; false when the
    // system refused (a failure the back end has written to standard error).
    virtual bool SetStartAtLogin(bool enable);
};

// The process's system services, chosen at start-up (the real one, or a test's fake).
System& GetSystem();
void SetSystem(System* system);
