// The document: its title, path, modified flag and views, file I/O through
// CArchive, and the Save and Save As commands. The single-document template
// creates it once and reuses it for every New and Open.
//
// Saving is atomic: the document is serialised into a temporary file in the
// target's folder, which is flushed to the disk and then renamed over the
// target; on any failure the temporary file goes and an older file of that
// name stays as it was. The modified flag may be set from any thread.
#pragma once

#include <atomic>
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
    /// Save: Serialize into a temporary file, then rename it to pathName. On
    /// failure shows `Couldn't save "PATH": REASON` and returns false. A
    /// Serialize that throws std::exception fails the save with its text.
    virtual BOOL OnSaveDocument(LPCSTR pathName);
    virtual void DeleteContents() {}
    virtual void Serialize(CArchive&) {}
    /// May the document be discarded? Yes unless modified; then asks "Save
    /// changes to TITLE?": Yes saves (false if that fails or is cancelled),
    /// No discards, Cancel keeps it (false).
    virtual BOOL SaveModified();

    /// Any thread.
    void SetModifiedFlag(BOOL modified = TRUE) { m_bModified.store(modified != FALSE); }
    BOOL IsModified() const { return m_bModified.load(); }
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

    /// Whether path names a regular file that can be read; if not, shows
    /// `Couldn't open "PATH": REASON`. Opens without blocking (a FIFO would hang).
    BOOL CheckOpenable(LPCSTR pathName);
    /// Save (with the Save As dialog when pathName is empty); false when it failed or was cancelled.
    BOOL DoSave(const std::string& pathName, bool replace);

private:
    static const CommandEntry kCommands[];
    std::string m_strTitle;
    std::string m_strPathName;
    std::atomic<bool> m_bModified{false};
    std::vector<CView*> m_views;
};

}  // namespace win
