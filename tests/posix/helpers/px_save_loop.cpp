// Saves the settings through the program's own code: "once" writes the first record,
// "loop" writes the second and the first in turn until the process is killed.
#include <cstring>

#include "SaveLoopRecords.h"
#include "backends/posix/PosixFiles.h"
#include "base/Unicode.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    PosixFiles files;
    SetFiles(&files);
    const std::u16string ini = px::FromUtf8(argv[1]);
    if (std::strcmp(argv[2], "once") == 0)
        return WriteGuardConfig(ini, saveloop::Record(false)) ? 0 : 1;
    for (;;) {
        WriteGuardConfig(ini, saveloop::Record(true));
        WriteGuardConfig(ini, saveloop::Record(false));
    }
}
