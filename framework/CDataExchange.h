// Data exchange between a dialog's controls and its members.
// DDX_Control binds a control object (CComboBox, ...) to the template control.
#pragma once

#include "platform/WinTypes.h"

namespace win {

class CDialog;
class CWnd;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    /// Marks the exchange failed (a validation step calls it); UpdateData then returns FALSE.
    void Fail() { m_bFailed = true; }
    bool Failed() const { return m_bFailed; }

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;

private:
    bool m_bFailed = false;
};

/// Binds control to the dialog control with this id (once; later calls do nothing).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

}  // namespace win
