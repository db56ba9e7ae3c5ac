#pragma once
// The whole program on the scripted host: a folder of its own holding the executable's
// config.ini and log.txt, a fake system with a virtual clock, and helpers to run
// CPerennixApp with a script for the main dialog.

#include <gtest/gtest.h>

#include <string>

#include "FakeSystem.h"
#include "FakeWindowHost.h"
#include "MemoryFolder.h"
#include "TempDir.h"
#include "app/CPerennixApp.h"
#include "base/Paths.h"
#include "base/Unicode.h"
#include "resources/Resource.h"
#include "ui/CPerennixDlg.h"

namespace fake {

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest()
    {
        system.modulePath = folder.File("perennix");
        clock.Set(2026, 3, 10, 12, 0, 0);
    }

    // A file the program path may name (it must exist to be saved).
    std::u16string MakeProgram(const std::string& relative)
    {
        const size_t slash = relative.rfind('/');
        if (slash != std::string::npos)
            memory.MakeFolder(relative.substr(0, slash));
        const std::u16string path = memory.File(relative);
        memory.Write(path, "#!/bin/sh\n");
        return path;
    }

    std::u16string IniPath() const { return memory.File("config.ini"); }
    void WriteIni(const std::string& utf8) { memory.Write(IniPath(), utf8); }
    bool IniExists() const { return memory.Exists(IniPath()); }
    std::string Ini() const { return memory.Read(IniPath()); }
    std::string Log() const { return memory.Read(memory.File("log.txt")); }

    // Runs the program; script acts inside the main dialog's modal loop.
    bool Run(FakeHost::Script script)
    {
        host.OnModal(IDD_MAIN, std::move(script));
        CPerennixApp app;
        return app.InitInstance();
    }

    // A settings file for a guarded program that exists, with extra lines appended.
    std::string GuardedIni(const std::u16string& path, const std::string& extra = "", int loopSec = 60)
    {
        return "[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(path)
            + "\r\nEXE_NAME=guarded.exe\r\nLOOPSEC=" + std::to_string(loopSec) + "\r\n" + extra;
    }

    // The program's folder: config.ini, log.txt and the programs it names are in-memory
    // files at the path of a real folder, where tests that install the system's file service
    // keep theirs.
    testsupport::TempDir folder;
    testsupport::MemoryFolder memory{folder.Text()};
    MemoryFiles& files = memory.files;
    const std::u16string& folderPath = memory.Path();
    VirtualClock clock;
    FakeSystem system{clock};
    FakeHost host{clock};
    ScopedSystem systemGuard{system};
    ScopedHost hostGuard{host};
};

// The dialog behind a fake window of the main dialog.
inline CPerennixDlg& MainDialog(FakeWindow& w) { return static_cast<CPerennixDlg&>(w.dialog); }

}  // namespace fake
