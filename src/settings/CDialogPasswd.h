#pragma once
// The password dialog of the scramble switch: sets a new password (shown plain, 6 to 16
// characters) or verifies the current one (masked, any length).

#include <string>

#include "platform/Window.h"

class CDialogPasswd : public CDialogEx {
public:
    explicit CDialogPasswd(CDialogEx* parent = nullptr);
    ~CDialogPasswd() override;

    bool OnInitDialog() override;
    void OnBnClickedOk();

    std::u16string m_strPassword;
    bool m_bVerify;
    CEdit m_editPassword;

protected:
    void DoDataExchange() override;
    bool OnCommand(int id, int code) override;
};
