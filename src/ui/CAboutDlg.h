#pragma once
// The About box: the template alone, no members, no handlers of its own.

#include "platform/Window.h"

class CAboutDlg : public CDialogEx {
public:
    CAboutDlg();
};
