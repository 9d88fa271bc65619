// The document template: the resource id (template string, menu, accelerators,
// icon) and the class records of document, frame and view.
#pragma once

#include <string>

#include "framework/CCmdTarget.h"

namespace win {

class CDocument;
class CFrameWnd;

class CDocTemplate : public CCmdTarget {
public:
    enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

    CDocTemplate(UINT resourceId, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                 const CRuntimeClass* viewClass);
    /// One field of template string resourceId ("\n"-separated); false when absent.
    BOOL GetDocString(std::string& text, DocStringIndex index) const;
    /// New (null path) or Open; null on failure.
    virtual CDocument* OpenDocumentFile(LPCSTR pathName, BOOL makeVisible = TRUE) = 0;
    virtual void CloseAllDocuments() = 0;
    /// "Untitiled" (string 61443) unless the document-name field is set.
    void SetDefaultTitle(CDocument* doc);
    UINT GetResourceId() const { return m_nIDResource; }

protected:
    CDocument* CreateNewDocument();
    CFrameWnd* CreateNewFrame(CDocument* doc);
    UINT m_nIDResource;
    const CRuntimeClass* m_pDocClass;
    const CRuntimeClass* m_pFrameClass;
    const CRuntimeClass* m_pViewClass;
};

}  // namespace win
