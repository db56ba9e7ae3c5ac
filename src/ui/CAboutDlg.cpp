#include "ui/CAboutDlg.h"

#include "base/Resource.h"

CAboutDlg::CAboutDlg()
    : CDialogEx(IDD_ABOUTBOX)
{
}
