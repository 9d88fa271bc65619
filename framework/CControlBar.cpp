// Control bars as child windows of the frame.
#include "framework/CControlBar.h"

#include <QWidget>

#include "framework/CFrameWnd.h"

namespace win {

CControlBar::~CControlBar() {
    if (m_pFrame) m_pFrame->RemoveControlBar(this);
}

BOOL CControlBar::AttachBar(QWidget* widget, CWnd* parent, DWORD style, UINT id) {
    m_pFrame = dynamic_cast<CFrameWnd*>(parent);
    if (!m_pFrame || !SubclassWidget(widget, id, style | WS_CHILD, parent)) {
        delete widget;
        m_pFrame = nullptr;
        return FALSE;
    }
    m_dwBarStyle = style;
    m_pFrame->AddControlBar(this);
    return TRUE;
}

void CControlBar::OnDestroy() {
    if (m_pFrame) m_pFrame->RemoveControlBar(this);
    m_pFrame = nullptr;
}

}  // namespace win
