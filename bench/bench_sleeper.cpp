// An idle process for the process-table benchmark: it sleeps until its parent (argv[1], a
// pid) ends or ten minutes have passed, so that none outlives an interrupted benchmark.

#include <csignal>
#include <cstdlib>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || getppid() != static_cast<pid_t>(std::atol(argv[1])))
        return 1;  // the parent ended before the death signal was armed
    alarm(600);
    for (;;)
        pause();
}
