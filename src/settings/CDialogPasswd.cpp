#include "settings/CDialogPasswd.h"

#include "resources/Resource.h"

namespace {
constexpr size_t kMinPasswordLength = 6;
constexpr size_t kMaxPasswordLength = 16;
}  // namespace

CDialogPasswd::CDialogPasswd(CDialogEx* parent)
    : CDialogEx(IDD_PASSWD, parent)
    , m_bVerify(false)
{
}

CDialogPasswd::~CDialogPasswd() = default;

void CDialogPasswd::DoDataExchange()
{
    CDialogEx::DoDataExchange();
    m_editPassword.Bind(m_pWnd, IDC_PASSWD);
}

bool CDialogPasswd::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    // A new password is typed in plain; the current one is verified masked.
    m_editPassword.SetPasswordChar(m_bVerify ? u'*' : 0);
    return true;
}

bool CDialogPasswd::OnCommand(int id, int code)
{
    if (id == IDOK && code == BN_CLICKED) {
        OnBnClickedOk();
        return true;
    }
    return false;
}

void CDialogPasswd::OnBnClickedOk()
{
    m_strPassword = m_editPassword.GetWindowText();
    if (!m_bVerify && (m_strPassword.size() < kMinPasswordLength || m_strPassword.size() > kMaxPasswordLength)) {
        MessageBox(u"请输入6～16位字符！", std::u16string(u"提示"), MB_OK);
        return;
    }
    OnOK();
}
