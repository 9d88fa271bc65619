// New and Open for the single document.
#include "framework/CSingleDocTemplate.h"

#include "framework/CDocument.h"
#include "framework/CFrameWnd.h"
#include "framework/CWinApp.h"

namespace win {

CSingleDocTemplate::~CSingleDocTemplate() { CloseAllDocuments(); }

CDocument* CSingleDocTemplate::OpenDocumentFile(LPCSTR pathName, BOOL makeVisible) {
    CDocument* doc = m_pOnlyDoc;
    bool created = false;
    if (doc) {
        if (!doc->SaveModified()) return nullptr;
    } else {
        doc = CreateNewDocument();
        if (!doc) return nullptr;
        created = true;
        m_pOnlyDoc = doc;
        m_pFrame = CreateNewFrame(doc);
        if (!m_pFrame) {
            m_pOnlyDoc = nullptr;
            delete doc;
            return nullptr;
        }
    }
    if (!pathName) {
        SetDefaultTitle(doc);
        if (!doc->OnNewDocument()) {
            if (created) CloseAllDocuments();
            return nullptr;
        }
    } else {
        if (!doc->OnOpenDocument(pathName)) {
            if (created) CloseAllDocuments();
            return nullptr;
        }
        doc->SetPathName(pathName);
    }
    CWinApp* app = AfxGetApp();
    if (created && app && !app->m_pMainWnd) app->m_pMainWnd = m_pFrame;
    m_pFrame->InitialUpdateFrame(doc, makeVisible);
    return doc;
}

void CSingleDocTemplate::CloseAllDocuments() {
    CFrameWnd* frame = m_pFrame;
    CDocument* doc = m_pOnlyDoc;
    m_pFrame = nullptr;
    m_pOnlyDoc = nullptr;
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == frame) app->m_pMainWnd = nullptr;
    // The frame deletes itself (and its view) when its window goes.
    if (frame && frame->m_hWnd) frame->DestroyWindow();
    delete doc;
}

}  // namespace win
