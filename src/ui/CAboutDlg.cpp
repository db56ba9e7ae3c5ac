#include "ui/CAboutDlg.h"

#include "resources/Resource.h"

CAboutDlg::CAboutDlg()
    : CDialogEx(IDD_ABOUTBOX)
{
}
