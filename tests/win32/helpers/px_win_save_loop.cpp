// Saves the settings through the program's own code (Win32Files and the settings file) into a
// config.ini of 2 MiB, for the loop that kills it at random moments (kill_save_loop.sh). A file
// that large takes long enough to save that the kills land in every step of a save.
//
//   px_win_save_loop INI make     writes INI anew: 2 MiB of another section's lines, then the
//                                 first record
//   px_win_save_loop INI first    saves the first record once
//   px_win_save_loop INI second   saves the second record once
//   px_win_save_loop INI loop     saves the second and the first record in turn until it is
//                                 killed; prints "saving <process id>" after the first save

#include "backends/win32/WinPrelude.h"

#include <cstdio>
#include <string>

#include "SaveLoopRecords.h"
#include "backends/win32/Win32Files.h"

namespace {

// Lines of a section Perennix does not write, which every save keeps byte for byte.
std::string OtherSection()
{
    constexpr size_t kBytes = 2 * 1024 * 1024;
    std::string text = "[NOTES]\r\n";
    for (int line = 0; text.size() < kBytes; ++line) {
        char start[16];
        std::snprintf(start, sizeof start, "N%06d=", line);
        text += start + std::string(70, static_cast<char>('a' + line % 26)) + "\r\n";
    }
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    Win32Files files;
    SetFiles(&files);
    const std::wstring path = argv[1];
    const std::u16string ini(path.begin(), path.end());
    const std::wstring mode = argv[2];
    if (mode == L"make")
        return files.WriteFileAtomically(ini, OtherSection()) && WriteGuardConfig(ini, saveloop::Record(false)) ? 0 : 1;
    if (mode == L"first" || mode == L"second")
        return WriteGuardConfig(ini, saveloop::Record(mode == L"second")) ? 0 : 1;
    if (mode != L"loop")
        return 2;
    if (!WriteGuardConfig(ini, saveloop::Record(true)))
        return 1;
    std::printf("saving %lu\n", static_cast<unsigned long>(::GetCurrentProcessId()));
    std::fflush(stdout);
    for (;;) {
        WriteGuardConfig(ini, saveloop::Record(false));
        WriteGuardConfig(ini, saveloop::Record(true));
    }
}
