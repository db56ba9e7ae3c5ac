#include "ui/CAboutDlg.h"

#include <utility>

#include "resources/Resource.h"

CAboutDlg::CAboutDlg(std::u16string dataFolder)
    : CDialogEx(IDD_ABOUTBOX)
    , m_strDataFolder(std::move(dataFolder))
{
}

bool CAboutDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    if (!m_strDataFolder.empty())
        m_pWnd->SetDlgItemText(IDC_ABOUT_FOLDER, u"配置文件夹：" + m_strDataFolder);
    return true;
}
