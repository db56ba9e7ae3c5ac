// One load or one save of the settings through the program's own code, for
// bench/profile_file.sh to time and weigh with /usr/bin/time.
//   profile_file load PATH   reads every key, as at start-up
//   profile_file save PATH   reads every key and writes them back, as a save does
#include <cstdio>
#include <cstring>

#include "backends/posix/PosixFiles.h"
#include "base/Unicode.h"
#include "settings/GuardConfig.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    PosixFiles files;
    SetFiles(&files);
    const std::u16string ini = px::FromUtf8(argv[2]);
    StoredSettings stored = ReadStoredSettings(ini);
    if (std::strcmp(argv[1], "save") == 0) {
        stored.config.nLoopSec += 1;
        if (!WriteGuardConfig(ini, stored.config))
            return 1;
    }
    // The values read, so that nothing of the reading can be left out.
    std::printf("%s %d\n", px::ToUtf8(stored.config.strFullPath).c_str(), stored.config.nLoopSec);
    return 0;
}
