// Two programs save the settings into one config.ini at the same time, SAVES times each
// (helpers/px_save_loop.cpp "count"), as two Perennix copies sharing a linked config.ini,
// or a save racing a copy started from the same folder, would. Every save must succeed:
// neither may take the other's temporary file for one a killed save left behind. Afterwards
// config.ini is one record whole and no temporary file is left. Prints the figures; exits
// non-zero on any fault.
//   px_save_race SAVES SAVER
#include <cstdio>
#include <cstdlib>
#include <string>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SaveLoopRecords.h"
#include "TempDir.h"
#include "backends/posix/PosixFiles.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SAVES SAVER\n", argv[0]);
        return 2;
    }
    const std::string saves = argv[1];
    const std::string saver = argv[2];

    testsupport::TempDir dir;
    const std::u16string ini = dir.File("config.ini");
    const std::string iniName = testsupport::NativePath(ini).string();
    PosixFiles files;
    SetFiles(&files);
    std::string whole[2];
    for (int i = 0; i < 2; ++i) {
        if (!WriteGuardConfig(ini, saveloop::Record(i == 1)))
            return 2;
        whole[i] = testsupport::ReadBytes(ini);
    }

    // Both savers stop before they start the program and go on together, so that their saves
    // overlap from the first on.
    pid_t savers[2] = {};
    for (pid_t& child : savers) {
        child = ::fork();
        if (child == 0) {
            ::raise(SIGSTOP);
            ::execl(saver.c_str(), saver.c_str(), iniName.c_str(), "count", saves.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status))
            return 2;
    }
    for (const pid_t child : savers)
        ::kill(child, SIGCONT);
    int faults = 0;
    for (const pid_t child : savers) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) { }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "saver %d: some saves failed (status %d)\n", static_cast<int>(child), status);
            ++faults;
        }
    }
    const std::string after = testsupport::ReadBytes(ini);
    if (after != whole[0] && after != whole[1]) {
        std::fprintf(stderr, "config.ini is neither record (%zu bytes)\n", after.size());
        ++faults;
    }
    const int left = saveloop::CountTemporaries(dir.Path());
    if (left != 0) {
        std::fprintf(stderr, "%d temporary files left\n", left);
        ++faults;
    }
    std::printf("save race: 2 savers x %s saves of one file: %d faults\n", saves.c_str(), faults);
    SetFiles(nullptr);
    return faults == 0 ? 0 : 1;
}
