// The update-UI record the framework hands to update handlers: one command id
// and the user-interface item (menu entry or toolbar button) it stands for.
// Handlers enable or check the item; if a handler changes nothing, the item
// is enabled exactly when some command table handles its command.
#pragma once

#include <string>

#include "platform/WinTypes.h"

namespace win {

class CCmdUI {
public:
    explicit CCmdUI(UINT id) : m_nID(id) {}
    virtual ~CCmdUI() = default;

    virtual void Enable(BOOL on = TRUE);
    /// 0 unchecked, 1 checked.
    virtual void SetCheck(int check = 1);
    /// The text of a status-bar pane (other items keep theirs).
    virtual void SetText(const std::string& text);

    UINT m_nID;
    /// Set by Enable: the handler decided the enabled state itself.
    bool m_bEnableChanged = false;
    bool m_bEnabled = false;
    int m_nCheck = 0;
    /// Set by SetText.
    bool m_bTextSet = false;
    std::string m_strText;
};

}  // namespace win
