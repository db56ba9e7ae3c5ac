#pragma once
// The About box: the template, and the folder this copy keeps config.ini and log.txt in.

#include <string>

#include "platform/Window.h"

class CAboutDlg : public CDialogEx {
public:
    explicit CAboutDlg(std::u16string dataFolder = {});
    bool OnInitDialog() override;

private:
    std::u16string m_strDataFolder;
};
