// Modal dialogs built from dialog templates. DoModal builds the dialog from
// the template: the font (MS Sans Serif 8pt maps to the system sans font at
// 8pt), controls (buttons, statics, combo boxes, one-line edits) placed from
// dialog units (x * average char width / 4, y * char height / 8), tab order =
// template order, the default button, icon
// statics showing icon 128. It calls OnInitDialog (base: UpdateData(FALSE))
// and runs modally: the rest of the application takes no input meanwhile.
// OK (id 1) runs OnOK (base: UpdateData(TRUE), closes with IDOK only when it
// succeeds); Cancel (id 2), Escape and the close box run OnCancel (IDCANCEL).
#pragma once

#include <vector>

#include "framework/CDataExchange.h"
#include "framework/CWnd.h"

class QDialog;

namespace win {

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    /// IDOK (1), IDCANCEL (2), or -1 when the template is missing.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    void OnClose() override;
    /// A button other than OK and Cancel: routed to this dialog's command table.
    virtual void OnButton(UINT id);

private:
    friend class DialogWidget;
    CWnd* m_pParentWnd;
    std::vector<CWnd*> m_controls;  // the template's controls, in template order
    int m_nResult = IDCANCEL;
};

}  // namespace win
