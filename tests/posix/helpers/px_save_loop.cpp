// Saves the settings through the program's own code: "once" writes the first record,
// "loop" writes the second and the first in turn until the process is killed, and "count N"
// does that N times and then prints how many saves failed (exit status 1 when any did).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SaveLoopRecords.h"
#include "backends/posix/PosixFiles.h"
#include "base/Unicode.h"

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[2], "count") == 0))
        return 2;
    PosixFiles files;
    SetFiles(&files);
    const std::u16string ini = px::FromUtf8(argv[1]);
    if (std::strcmp(argv[2], "once") == 0)
        return WriteGuardConfig(ini, saveloop::Record(false)) ? 0 : 1;
    if (argc == 4) {
        const long saves = std::strtol(argv[3], nullptr, 10);
        long failed = 0;
        for (long i = 0; i < saves; ++i)
            failed += WriteGuardConfig(ini, saveloop::Record(i % 2 == 0)) ? 0 : 1;
        std::printf("%ld saves, %ld failed\n", saves, failed);
        return failed == 0 ? 0 : 1;
    }
    for (;;) {
        WriteGuardConfig(ini, saveloop::Record(true));
        WriteGuardConfig(ini, saveloop::Record(false));
    }
}
