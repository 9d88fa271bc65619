// The document: its title, path, modified flag and views, file I/O through
// CArchive, and the Save and Save As commands. The single-document template
// creates it once and reuses it for every New and Open.
#pragma once

#include <string>
#include <vector>

#include "framework/CArchive.h"
#include "framework/CCmdTarget.h"

namespace win {

class CView;
class CDocTemplate;


class CDocument : public CCmdTarget {
public:
    CDocument();
    ~CDocument() override;

    /// New: clears path and modified flag and calls DeleteContents.
    virtual BOOL OnNewDocument();
    /// Open: DeleteContents, then Serialize from the file; false when it cannot be read.
    virtual BOOL OnOpenDocument(LPCSTR pathName);
    /// Save: Serialize into the file (nothing written gives a file of zero bytes).
    virtual BOOL OnSaveDocument(LPCSTR pathName);
    virtual void DeleteContents() {}
    virtual void Serialize(CArchive&) {}
    /// May the document be discarded? Yes unless modified; then asks to save.
    virtual BOOL SaveModified();

    void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified != FALSE; }
    BOOL IsModified() const { return m_bModified; }
    const std::string& GetTitle() const { return m_strTitle; }
    /// Sets the title and updates the frames' captions.
    virtual void SetTitle(const std::string& title);
    const std::string& GetPathName() const { return m_strPathName; }
    /// Sets the path and takes its file name as the title.
    virtual void SetPathName(const std::string& path);
    void ClearPathName() { m_strPathName.clear(); }

    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& GetViews() const { return m_views; }
    /// Calls OnUpdate of every view except sender.
    void UpdateAllViews(CView* sender, LPARAM hint = 0, CObject* hintObject = nullptr);
    CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    void OnFileSave();
    void OnFileSaveAs();

    const CommandTable* GetCommandTable() const override;

    CDocTemplate* m_pDocTemplate = nullptr;

protected:
    BOOL DoSave(const std::string& pathName, bool replace);

private:
    static const CommandEntry kCommands[];
    std::string m_strTitle;
    std::string m_strPathName;
    bool m_bModified = false;
    std::vector<CView*> m_views;
};

}  // namespace win
