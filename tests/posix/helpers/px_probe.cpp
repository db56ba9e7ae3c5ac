// A stand-in for a guarded program. It writes what it received to $PX_PROBE_REPORT (when
// set), then sleeps for $PX_PROBE_LINGER_MS milliseconds (default 60000) or until killed.
// The report, one "key value" per line: pid, ppid, sid, stdin (what descriptor 0 is), fd
// (one line per open descriptor), cwd, arg (one line per argv element, argv[0] first).

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

namespace {

std::string LinkTarget(const char* path)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink(path, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("?");
}

std::vector<int> OpenDescriptors()
{
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return fds;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != dirfd(dir))
            fds.push_back(fd);
    }
    closedir(dir);
    return fds;
}

void WriteReport(const char* path, int argc, char** argv)
{
    const std::vector<int> fds = OpenDescriptors();
    const std::string temporary = std::string(path) + ".part";
    FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out)
        return;
    std::fprintf(out, "pid %d\nppid %d\nsid %d\n", getpid(), getppid(), getsid(0));
    std::fprintf(out, "stdin %s\n", LinkTarget("/proc/self/fd/0").c_str());
    for (const int fd : fds)
        std::fprintf(out, "fd %d\n", fd);
    std::fprintf(out, "cwd %s\n", LinkTarget("/proc/self/cwd").c_str());
    for (int i = 0; i < argc; ++i)
        std::fprintf(out, "arg %s\n", argv[i]);
    std::fclose(out);
    std::rename(temporary.c_str(), path);  // readers see the whole report or none
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* report = std::getenv("PX_PROBE_REPORT"))
        WriteReport(report, argc, argv);
    const char* lingerText = std::getenv("PX_PROBE_LINGER_MS");
    long lingerMs = lingerText ? std::atol(lingerText) : 60000;
    while (lingerMs > 0) {
        const long step = lingerMs < 1000 ? lingerMs : 1000;
        timespec pause{step / 1000, (step % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
        lingerMs -= step;
    }
    return 0;
}
