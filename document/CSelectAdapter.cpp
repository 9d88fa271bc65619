// The adapter dialog on template 130. The combo box keeps its entries in
// sorted order itself; the dialog always preselects the first of them, and OK
// stores the selected text as the default adapter, NUL included, before the
// framework closes the dialog. Failures to store are silent: the choice still
// reaches the caller.
#include "document/CSelectAdapter.h"

#include "framework/AfxStrings.h"
#include "platform/WinRegistry.h"

using namespace win;

namespace {
constexpr const char* kDefaultAdapterValue = "Default Adapter";
}  // namespace

CSelectAdapter::CSelectAdapter(CWnd* pParent) : CDialog(IDD, pParent) {}

void CSelectAdapter::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_ADAPTER, m_comboAdapter);
}

BOOL CSelectAdapter::OnInitDialog() {
    CDialog::OnInitDialog();

    // An address holds no blank, so the entry's text up to its first blank is
    // the address; with the name after it, entries keep the order of the
    // bare addresses.
    for (const std::string& adapter : m_adapters) {
        const auto name = m_interfaceNames.find(adapter);
        if (name == m_interfaceNames.end() || name->second.empty())
            m_comboAdapter.AddString(adapter);
        else
            m_comboAdapter.AddString(adapter + " (" + name->second + ")");
    }
    // The first entry in sorted order, not the preset; nothing when the list is empty.
    m_comboAdapter.SetCurSel(0);

    // The dialog manager gives the focus to the first tab stop, OK.
    return TRUE;
}

void CSelectAdapter::OnOK() {
    UpdateData(TRUE);

    const int nSel = m_comboAdapter.GetCurSel();
    if (nSel != CB_ERR) {
        m_comboAdapter.GetLBText(nSel, m_sSelection);
        m_sSelection = m_sSelection.substr(0, m_sSelection.find(' '));

        std::string sKey;
        AfxLoadString(IDS_REGKEY, sKey);
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, sKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                            &hKey, nullptr) == static_cast<LONG>(ERROR_SUCCESS)) {
            RegSetValueExA(hKey, kDefaultAdapterValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_sSelection.c_str()),
                           static_cast<DWORD>(m_sSelection.size() + 1));
            RegCloseKey(hKey);
        }
    }

    CDialog::OnOK();
}
