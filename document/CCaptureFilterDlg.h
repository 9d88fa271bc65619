// The capture filter dialog: one field with the expression, in tcpdump's
// syntax, that decides which datagrams a capture keeps. OK compiles it with
// libpcap: an expression libpcap refuses leaves the dialog open with
// libpcap's message under the field, and the filter as it was; one it
// accepts is stored per user as "Capture Filter" beside the default adapter
// and handed back to the caller. An empty field keeps everything.
#pragma once

#include <string>

#include "document/ProgramIds.h"
#include "framework/CDialog.h"
#include "packet/PacketFilter.h"

class CCaptureFilterDlg : public win::CDialog {
public:
    enum { IDD = win::IDD_CAPTURE_FILTER };

    explicit CCaptureFilterDlg(win::CWnd* pParent = nullptr);

    /// In: the expression in use (shown in the field); out after IDOK: the new one.
    std::string m_sFilter;
    /// Out after IDOK: m_sFilter compiled.
    PacketFilter m_filter;

    /// The setting's value name under the key in string 129.
    static constexpr const char* kValueName = "Capture Filter";

protected:
    win::BOOL OnInitDialog() override;
    void OnOK() override;
};
