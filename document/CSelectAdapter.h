// The adapter dialog: offers the machine's IPv4 interface addresses in a
// sorted drop-down list and, on OK, makes the chosen one the per-user default
// adapter ("Default Adapter" under the key in string 129) before it closes.
// The caller fills m_adapters, may preset m_sSelection, runs DoModal and, after
// IDOK, takes m_sSelection as the new adapter.
#pragma once

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

protected:
    void DoDataExchange(win::CDataExchange* pDX) override;
    win::BOOL OnInitDialog() override;
    void OnOK() override;
};
