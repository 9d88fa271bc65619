// Template strings and the creation of documents and frames from class records.
#include "framework/CDocTemplate.h"

#include "framework/AfxStrings.h"
#include "framework/CDocument.h"
#include "framework/CFrameWnd.h"

namespace win {

CDocTemplate::CDocTemplate(UINT resourceId, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                           const CRuntimeClass* viewClass)
    : m_nIDResource(resourceId), m_pDocClass(docClass), m_pFrameClass(frameClass), m_pViewClass(viewClass) {}

BOOL CDocTemplate::GetDocString(std::string& text, DocStringIndex index) const {
    std::string full;
    if (!AfxLoadString(m_nIDResource, full)) {
        text.clear();
        return FALSE;
    }
    return AfxExtractSubString(text, full, index) ? TRUE : FALSE;
}

void CDocTemplate::SetDefaultTitle(CDocument* doc) {
    std::string title;
    if (!GetDocString(title, docName) || title.empty()) AfxLoadString(61443, title);
    doc->SetTitle(title);
}

CDocument* CDocTemplate::CreateNewDocument() {
    auto* doc = dynamic_cast<CDocument*>(m_pDocClass ? m_pDocClass->CreateObject() : nullptr);
    if (doc) doc->m_pDocTemplate = this;
    return doc;
}

CFrameWnd* CDocTemplate::CreateNewFrame(CDocument* doc) {
    CObject* object = m_pFrameClass ? m_pFrameClass->CreateObject() : nullptr;
    auto* frame = dynamic_cast<CFrameWnd*>(object);
    if (!frame) {
        delete object;
        return nullptr;
    }
    CCreateContext context{m_pViewClass, doc};
    if (!frame->LoadFrame(m_nIDResource, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, nullptr, &context)) {
        // A frame whose window never came deletes itself only once it had one.
        if (!frame->m_hWnd) delete frame;
        return nullptr;
    }
    return frame;
}

}  // namespace win
