// The state of one print or preview job as the view's printing hooks see it.
#pragma once

#include "platform/WinTypes.h"

namespace win {

struct CPrintInfo {
    BOOL m_bDirect = FALSE;  // direct print: no print dialog
    BOOL m_bPreview = FALSE;  // print preview
    BOOL m_bContinuePrinting = TRUE;
    UINT m_nCurPage = 1;
    UINT m_nMinPage = 1;
    UINT m_nMaxPage = 1;
    void SetMaxPage(UINT page) { m_nMaxPage = page; }
    UINT GetMaxPage() const { return m_nMaxPage; }
};

}  // namespace win
