#pragma once
// The whole program on the scripted host: a folder of its own holding the executable's
// config.ini and log.txt, a fake system with a virtual clock, and helpers to run
// CPerennixApp with a script for the main dialog.

#include <gtest/gtest.h>

#include <string>

#include "FakeSystem.h"
#include "FakeWindowHost.h"
#include "TempDir.h"
#include "TestGbk.h"
#include "app/CPerennixApp.h"
#include "base/Paths.h"
#include "base/Resource.h"
#include "base/Unicode.h"
#include "platform/MemoryFiles.h"
#include "ui/CPerennixDlg.h"

namespace fake {

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest()
    {
        system.modulePath = folder.File("perennix");
        clock.Set(2026, 3, 10, 12, 0, 0);
        files.AddFolder(folderPath);
        files.codePage = &testsupport::TestGbk();
        SetFiles(&files);
    }
    ~ProgramTest() override { SetFiles(nullptr); }

    // A file the program path may name (it must exist to be saved).
    std::u16string MakeProgram(const std::string& relative)
    {
        std::u16string path = folderPath + px::kPathSeparator;
        for (const char16_t c : px::FromUtf8(relative)) {
            if (c == u'/') {
                files.AddFolder(path);
                path += px::kPathSeparator;
            } else {
                path += c;
            }
        }
        files.AddFolder(path.substr(0, path.rfind(px::kPathSeparator)));
        files.Put(path, "#!/bin/sh\n");
        return path;
    }

    std::u16string IniPath() const { return folder.File("config.ini"); }
    void WriteIni(const std::string& utf8) { files.Put(IniPath(), utf8); }
    bool IniExists() const { return files.Find(IniPath()) != nullptr; }
    std::string Ini() const
    {
        const std::string* bytes = files.Find(IniPath());
        return bytes ? *bytes : std::string();
    }
    // The run log is a real file: the application writes it through a file stream.
    std::string Log() const { return testsupport::ReadBytes(folder.File("log.txt")); }

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
    // The program's folder: config.ini and the programs it names are in-memory files there.
    const std::u16string folderPath = folder.File("").substr(0, folder.File("").size() - 1);
    MemoryFiles files;
    VirtualClock clock;
    FakeSystem system{clock};
    FakeHost host{clock};
    ScopedSystem systemGuard{system};
    ScopedHost hostGuard{host};
};

// The dialog behind a fake window of the main dialog.
inline CPerennixDlg& MainDialog(FakeWindow& w) { return static_cast<CPerennixDlg&>(w.dialog); }

}  // namespace fake
