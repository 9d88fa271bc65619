// Document state, file I/O and the Save commands.
#include "framework/CDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "framework/AfxMessageBox.h"
#include "framework/CDocTemplate.h"
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

BOOL CDocument::CheckOpenable(LPCSTR pathName) {
    if (const int error = CheckRegularFile(pathName ? pathName : "", O_RDONLY)) {
        ReportFileFailure("open", pathName, error);
        return FALSE;
    }
    return TRUE;
}

BOOL CDocument::OnOpenDocument(LPCSTR pathName) {
    if (!CheckOpenable(pathName)) return FALSE;
    std::FILE* file = std::fopen(pathName, "rb");
    if (!file) {
        ReportFileFailure("open", pathName, errno);
        return FALSE;
    }
    DeleteContents();
    CArchive archive(file, CArchive::load);
    Serialize(archive);
    std::fclose(file);
    SetModifiedFlag(FALSE);
    return TRUE;
}

namespace {

/// The permissions a new file gets from the process's umask.
mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

BOOL CDocument::OnSaveDocument(LPCSTR pathName) {
    const std::string path = pathName ? pathName : "";
    // The file that is replaced keeps its permissions; a new one gets the usual.
    mode_t mode = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            ReportFileFailure("save", pathName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
            return FALSE;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        ReportFileFailure("save", pathName, errno);
        return FALSE;
    } else {
        mode = NewFileMode();
    }

    // The temporary file lives beside the target, so that the rename stays
    // within one file system and replaces the target in one step.
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        ReportFileFailure("save", pathName, errno);
        return FALSE;
    }
    ::fchmod(fd, mode);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        ReportFileFailure("save", pathName, error);
        return FALSE;
    }

    std::string reason;
    int error = 0;
    errno = 0;
    try {
        CArchive archive(file, CArchive::store);
        Serialize(archive);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    // A write that failed inside Serialize left its errno; a buffered one fails here.
    if (reason.empty() && std::ferror(file)) error = errno ? errno : EIO;
    if (reason.empty() && !error && std::fflush(file) != 0) error = errno;
    if (reason.empty() && !error && ::fsync(fd) != 0) error = errno;
    if (std::fclose(file) != 0 && reason.empty() && !error) error = errno;
    if (reason.empty() && !error && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (!reason.empty() || error) {
        ::unlink(temporary.c_str());
        if (!reason.empty())
            AfxMessageBox(std::string("Couldn't save \"") + path + "\": " + reason, MB_OK | MB_ICONEXCLAMATION);
        else
            ReportFileFailure("save", pathName, error);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::SaveModified() {
    if (!IsModified()) return TRUE;
    const std::string text = "Save changes to " + m_strTitle + "?";
    switch (AfxMessageBox(text, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
        return DoSave(m_strPathName, true);
    case IDNO:
        return TRUE;
    default:
        return FALSE;
    }
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
        std::string filter;
        std::string extension;
        if (m_pDocTemplate) {
            m_pDocTemplate->GetDocString(filter, CDocTemplate::filterName);
            m_pDocTemplate->GetDocString(extension, CDocTemplate::filterExt);
        }
        name = AfxPromptFileName(false, m_strTitle, filter, extension);
        if (name.empty()) return FALSE;
    }
    if (!OnSaveDocument(name.c_str())) return FALSE;
    if (replace) SetPathName(name);
    return TRUE;
}

void CDocument::OnFileSave() { DoSave(m_strPathName, true); }
void CDocument::OnFileSaveAs() { DoSave("", true); }

}  // namespace win
