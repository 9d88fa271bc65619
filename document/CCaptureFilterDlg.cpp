// The capture filter dialog on template 131. Compiling needs no privilege:
// the expression is compiled here, and only the compiled program goes to the
// capture socket at Start. A failure to store the setting is silent, as for
// the default adapter: the filter still applies until the program ends.
#include "document/CCaptureFilterDlg.h"

#include "framework/AfxStrings.h"
#include "platform/WinRegistry.h"

using namespace win;

CCaptureFilterDlg::CCaptureFilterDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

BOOL CCaptureFilterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (CWnd* field = GetDlgItem(IDC_CAPTURE_FILTER)) field->SetWindowText(m_sFilter);
    // The dialog manager gives the focus to the first tab stop, the field.
    return TRUE;
}

void CCaptureFilterDlg::OnOK() {
    CWnd* field = GetDlgItem(IDC_CAPTURE_FILTER);
    const std::string expression = field ? field->GetWindowText() : m_sFilter;

    PacketFilter filter;
    std::string error;
    if (!filter.Compile(expression, error)) {
        if (CWnd* message = GetDlgItem(IDC_FILTER_ERROR)) message->SetWindowText(error);
        if (field) field->SetFocus();
        return;
    }
    m_sFilter = expression;
    m_filter = filter;

    std::string sKey;
    AfxLoadString(IDS_REGKEY, sKey);
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &hKey, nullptr) == static_cast<LONG>(ERROR_SUCCESS)) {
        RegSetValueExA(hKey, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_sFilter.c_str()),
                       static_cast<DWORD>(m_sFilter.size() + 1));
        RegCloseKey(hKey);
    }
    CDialog::OnOK();
}
