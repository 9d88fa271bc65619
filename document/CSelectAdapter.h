// The adapter dialog: offers the machine's IPv4 interface addresses in a
// sorted drop-down list, each with the name of its interface when known
// ("127.0.0.1 (lo)"), and, on OK, makes the chosen address the per-user
// default adapter ("Default Adapter" under the key in string 129) before it
// closes; the stored text is the bare address.
// The caller fills m_adapters, may preset m_sSelection, runs DoModal and, after
// IDOK, takes m_sSelection as the new adapter.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "document/ProgramIds.h"
#include "framework/CComboBox.h"
#include "framework/CDialog.h"

class CSelectAdapter : public win::CDialog {
public:
    enum { IDD = win::IDD_SELECT_ADAPTER };

    explicit CSelectAdapter(win::CWnd* pParent = nullptr);

    /// The drop-down list, control 1001.
    win::CComboBox m_comboAdapter;
    /// In: the caller's preset (may be empty); out after IDOK: the chosen adapter.
    std::string m_sSelection;
    /// The addresses to offer, dotted-decimal, in any order.
    std::vector<std::string> m_adapters;
    /// The interface name of an address of m_adapters, filled by the caller;
    /// an address without one is shown alone.
    std::map<std::string, std::string> m_interfaceNames;

protected:
    void DoDataExchange(win::CDataExchange* pDX) override;
    win::BOOL OnInitDialog() override;
    void OnOK() override;
};
