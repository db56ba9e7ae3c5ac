#include "ui/CAboutDlg.h"

#include "ui/Resource.h"

CAboutDlg::CAboutDlg()
    : CDialogEx(IDD_ABOUTBOX)
{
}
