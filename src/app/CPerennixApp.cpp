#include "app/CPerennixApp.h"

#include "platform/System.h"
#include "ui/CPerennixDlg.h"

bool CPerennixApp::InitInstance()
{
    m_ofsLog.Open(LogPathForModule(GetSystem().GetModuleFileName()));
    m_ofsLog.WriteBanner(__DATE__, __TIME__);

    CPerennixDlg dlg;
    dlg.DoModal();  // guarding lives and ends with this modal run

    m_ofsLog.Close();
    return false;
}
