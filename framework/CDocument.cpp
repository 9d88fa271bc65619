// Document state, file I/O and the Save commands.
#include "framework/CDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "framework/AfxMessageBox.h"
#include "framework/CFrameWnd.h"
#include "framework/CView.h"
#include "framework/FileDialogs.h"
#include "framework/FrameworkIds.h"

namespace win {
using namespace afx;

const CommandEntry CDocument::kCommands[] = {
    CommandHandler(ID_FILE_SAVE, &CDocument::OnFileSave),
    CommandHandler(ID_FILE_SAVE_AS, &CDocument::OnFileSaveAs),
};

const CommandTable* CDocument::GetCommandTable() const {
    static const CommandTable table{kCommands, nullptr};
    return &table;
}

CDocument::CDocument() = default;

CDocument::~CDocument() {
    for (CView* view : m_views) view->m_pDocument = nullptr;
}

BOOL CDocument::OnNewDocument() {
    DeleteContents();
    m_strPathName.clear();
    SetModifiedFlag(FALSE);
    return TRUE;
}

namespace {

/// Opens path without blocking (a FIFO must not hang the caller) and checks
/// that it is a regular file; 0 or the errno that says why not.
int CheckRegularFile(const char* path, int flags) {
    const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0) error = errno;
    else if (S_ISDIR(st.st_mode)) error = EISDIR;
    else if (!S_ISREG(st.st_mode)) error = EINVAL;
    ::close(fd);
    return error;
}

void ReportFileFailure(const char* what, const char* path, int error) {
    std::string text = std::string("Couldn't ") + what + " \"" + (path ? path : "") + "\"";
    if (error == EINVAL) text += ": not a regular file";
    else if (error != 0) text += std::string(": ") + std::strerror(error);
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

BOOL CDocument::OnOpenDocument(LPCSTR pathName) {
    if (const int error = CheckRegularFile(pathName ? pathName : "", O_RDONLY)) {
        ReportFileFailure("open", pathName, error);
        return FALSE;
    }
    std::fstream file(pathName, std::ios::in | std::ios::binary);
    if (!file) {
        ReportFileFailure("open", pathName, errno);
        return FALSE;
    }
    DeleteContents();
    CArchive archive(file, CArchive::load);
    Serialize(archive);
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnSaveDocument(LPCSTR pathName) {
    if (const int error = CheckRegularFile(pathName ? pathName : "", O_WRONLY | O_CREAT)) {
        ReportFileFailure("save", pathName, error);
        return FALSE;
    }
    std::fstream file(pathName, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file) {
        ReportFileFailure("save", pathName, errno);
        return FALSE;
    }
    CArchive archive(file, CArchive::store);
    Serialize(archive);
    file.flush();
    file.close();
    if (!file) {
        ReportFileFailure("save", pathName, errno);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::SaveModified() {
    if (!IsModified()) return TRUE;
    // The program never marks its document modified; a modified one is saved.
    return DoSave(m_strPathName, true);
}

void CDocument::SetTitle(const std::string& title) {
    m_strTitle = title;
    for (CView* view : m_views)
        if (CFrameWnd* frame = view->GetParentFrame()) frame->OnUpdateFrameTitle();
}

void CDocument::SetPathName(const std::string& path) {
    m_strPathName = path;
    SetTitle(std::filesystem::path(path).filename().string());
}

void CDocument::AddView(CView* view) {
    m_views.push_back(view);
    view->m_pDocument = this;
}

void CDocument::RemoveView(CView* view) {
    m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
    view->m_pDocument = nullptr;
}

void CDocument::UpdateAllViews(CView* sender, LPARAM hint, CObject* hintObject) {
    for (CView* view : m_views)
        if (view != sender) view->OnUpdate(sender, hint, hintObject);
}

BOOL CDocument::DoSave(const std::string& pathName, bool replace) {
    std::string name = pathName;
    if (name.empty()) {
        name = AfxPromptFileName(false, m_strTitle);
        if (name.empty()) return FALSE;
    }
    if (!OnSaveDocument(name.c_str())) return FALSE;
    if (replace) SetPathName(name);
    return TRUE;
}

void CDocument::OnFileSave() { DoSave(m_strPathName, true); }
void CDocument::OnFileSaveAs() { DoSave("", true); }

}  // namespace win
