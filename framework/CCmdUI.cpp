// The base update-UI record only remembers what the handler decided; the menu
// and toolbar records (CommandUpdater) apply it to their items.
#include "framework/CCmdUI.h"

namespace win {

void CCmdUI::Enable(BOOL on) {
    m_bEnabled = on != FALSE;
    m_bEnableChanged = true;
}

void CCmdUI::SetCheck(int check) { m_nCheck = check; }

void CCmdUI::SetText(const std::string& text) {
    m_strText = text;
    m_bTextSet = true;
}

}  // namespace win
