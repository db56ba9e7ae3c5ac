// The program the footprint benchmark has guarded: on start it appends "<pid> <start time in
// ns since the epoch>" to the file named by argv[1] (one write, so records never mix), then
// sleeps. It ends itself after an hour so that none outlives an interrupted benchmark.

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (argc < 2)
        return 2;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%d %lld\n", static_cast<int>(getpid()),
        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, line, static_cast<size_t>(n)) != n)
        return 1;
    close(fd);
    alarm(3600);
    for (;;)
        pause();
}
