#pragma once
// The whole program on the scripted host: a folder of its own holding the executable's
// config.ini and log.txt, a fake system with a virtual clock, and helpers to run
// CPerennixApp with a script for the main dialog.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FakeSystem.h"
#include "FakeWindowHost.h"
#include "TempDir.h"
#include "app/CPerennixApp.h"
#include "platform/Unicode.h"
#include "ui/CPerennixDlg.h"
#include "ui/Resource.h"

namespace fake {

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest()
    {
        system.modulePath = px::FromUtf8((dir / "perennix").string());
        clock.Set(2026, 3, 10, 12, 0, 0);
    }

    // A file the program path may name (it must exist to be saved).
    std::u16string MakeProgram(const std::string& relative)
    {
        const std::filesystem::path p = dir / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\n";
        return px::FromUtf8(p.string());
    }

    void WriteIni(const std::string& utf8) { std::ofstream(dir / "config.ini", std::ios::binary) << utf8; }
    bool IniExists() const { return std::filesystem::exists(dir / "config.ini"); }
    std::string ReadFile(const char* name) const { return testsupport::ReadBytes(folder.File(name)); }
    std::string Ini() const { return ReadFile("config.ini"); }
    std::string Log() const { return ReadFile("log.txt"); }

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

    testsupport::TempDir folder;
    const std::filesystem::path& dir = folder.Path();
    VirtualClock clock;
    FakeSystem system{clock};
    FakeHost host{clock};
    ScopedSystem systemGuard{system};
    ScopedHost hostGuard{host};
};

// The dialog behind a fake window of the main dialog.
inline CPerennixDlg& MainDialog(FakeWindow& w) { return static_cast<CPerennixDlg&>(w.dialog); }

}  // namespace fake
