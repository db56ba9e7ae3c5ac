#include "app/CPerennixApp.h"

#include <iostream>

#include "base/Paths.h"
#include "base/Unicode.h"
#include "log/LogEntry.h"
#include "platform/System.h"
#include "settings/DataFolder.h"
#include "ui/CPerennixDlg.h"

bool CPerennixApp::InitInstance()
{
    // One Perennix per folder: two would share config.ini and log.txt and both launch and
    // end the program. A later start shows the running one's window and leaves everything
    // of the folder untouched, its log included.
    const std::u16string folder = px::PathBesideModule(GetSystem().GetModuleFileName(), u"");
    if (WindowHost* host = GetWindowHost(); host && !host->ClaimInstance(folder)) {
        if (host->SignalInstance(folder))
            return false;
        // What holds the claim is not this user's Perennix (or one that has just ended): a
        // start never ends unseen because of it. It runs, with the claim when it is free now.
        std::cerr << "perennix: the claim of this folder is held by something that is not this user's Perennix: "
                     "starting anyway\n";
        host->ClaimInstance(folder);
    }

    // config.ini and log.txt beside the program when its folder is writable, else per user;
    // a copy that keeps them per user says where in the log's first lines.
    const DataFolder data = ChooseDataFolder(GetFiles(), GetSystem().GetModuleFileName());
    m_ofsLog.Open(data.path + u"log.txt");
    m_ofsLog.WriteBanner(__DATE__, __TIME__);
    if (data.perUser)
        WriteLogEntry(logtext::kDataFolderPerUser, data.path);
    if (!data.problem.empty())
        std::cerr << "perennix: " << px::ToUtf8(data.problem) << "\n";

    CPerennixDlg dlg;
    dlg.SetDataFolder(data);
    dlg.DoModal();  // guarding lives and ends with this modal run

    m_ofsLog.Close();
    return false;
}
