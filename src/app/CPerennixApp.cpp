#include "app/CPerennixApp.h"

#include <iostream>

#include "base/Paths.h"
#include "platform/System.h"
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

    m_ofsLog.Open(LogPathForModule(GetSystem().GetModuleFileName()));
    m_ofsLog.WriteBanner(__DATE__, __TIME__);

    CPerennixDlg dlg;
    dlg.DoModal();  // guarding lives and ends with this modal run

    m_ofsLog.Close();
    return false;
}
