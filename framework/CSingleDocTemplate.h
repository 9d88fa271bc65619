// The single-document template: one document, one frame, one view, created at
// the first New and reused by every later New and Open.
#pragma once

#include "framework/CDocTemplate.h"

namespace win {

class CSingleDocTemplate : public CDocTemplate {
public:
    using CDocTemplate::CDocTemplate;
    ~CSingleDocTemplate() override;
    CDocument* OpenDocumentFile(LPCSTR pathName, BOOL makeVisible = TRUE) override;
    void CloseAllDocuments() override;
    CDocument* GetDocument() const { return m_pOnlyDoc; }
    CFrameWnd* GetFrame() const { return m_pFrame; }

private:
    CDocument* m_pOnlyDoc = nullptr;
    CFrameWnd* m_pFrame = nullptr;
};

}  // namespace win
