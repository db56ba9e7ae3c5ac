// Kills a program that keeps saving the settings (helpers/px_save_loop.cpp) with SIGKILL at
// random moments, ROUNDS times, and checks what each kill left: config.ini must be the
// whole file of one record or the other, and after the next save no temporary file may be
// left. Prints the figures; exits non-zero on any fault.
//   px_kill_loop ROUNDS SAVER [SEED]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SaveLoopRecords.h"
#include "TempDir.h"
#include "backends/posix/PosixFiles.h"

namespace {

namespace fs = std::filesystem;
using saveloop::CountTemporaries;

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROUNDS SAVER [SEED]\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    const std::string saver = argv[2];
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                   : static_cast<unsigned>(std::random_device()());
    std::mt19937 random(seed);
    // The saver takes a few milliseconds to start and then saves without pause: kills up to
    // 40 ms after the start land before, during and between saves.
    std::uniform_int_distribution<int> delayUs(0, 40000);

    testsupport::TempDir dir;
    const fs::path folder = dir.Path();
    const std::u16string ini = dir.File("config.ini");
    PosixFiles files;
    SetFiles(&files);
    const std::u16string scratch = dir.File("scratch.ini");
    std::string whole[2];
    for (int i = 0; i < 2; ++i) {
        if (!WriteGuardConfig(scratch, saveloop::Record(i == 1)))
            return 2;
        whole[i] = testsupport::ReadBytes(scratch);
    }
    fs::remove(folder / "scratch.ini");
    if (!WriteGuardConfig(ini, saveloop::Record(false)))
        return 2;

    int faults = 0;
    int leftTemporary = 0;
    int maxTemporaries = 0;
    int changed = 0;
    int leftAfterSave = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string before = testsupport::ReadBytes(ini);
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(saver.c_str(), saver.c_str(), testsupport::NativePath(ini).c_str(), "loop", nullptr);
            ::_exit(127);
        }
        if (child < 0)
            return 2;
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) { }
        if (!WIFSIGNALED(status)) {
            std::fprintf(stderr, "round %d: the saver ended by itself (status %d)\n", round, status);
            ++faults;
        }

        const std::string after = testsupport::ReadBytes(ini);
        if (after != whole[0] && after != whole[1]) {
            std::fprintf(stderr, "round %d: config.ini is neither record (%zu bytes)\n", round, after.size());
            ++faults;
        }
        changed += after != before ? 1 : 0;
        const int temporaries = CountTemporaries(folder);
        leftTemporary += temporaries > 0 ? 1 : 0;
        maxTemporaries = std::max(maxTemporaries, temporaries);

        // The next save, as the program would make it, clears what the kill left.
        const bool saved = WriteGuardConfig(ini, saveloop::Record(round % 2 == 0));
        const bool left = CountTemporaries(folder) != 0;
        leftAfterSave += left ? 1 : 0;
        if (!saved || left) {
            std::fprintf(stderr, "round %d: the next save failed or left a temporary file\n", round);
            ++faults;
        }
    }
    std::printf("kill loop: %d rounds (seed %u): %d kills left a whole changed file, %d the whole old one; "
                "%d left a temporary file (at most %d at once), %d of them still there after the next save; "
                "%d faults\n",
        rounds, seed, changed, rounds - changed, leftTemporary, maxTemporaries, leftAfterSave, faults);
    SetFiles(nullptr);
    return faults == 0 ? 0 : 1;
}
