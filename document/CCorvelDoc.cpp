// The capture document: adapter choice at creation, the capture commands,
// the packet hand-over to the view's consumer thread, and capture files.
#include "document/CCorvelDoc.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "document/CCaptureFilterDlg.h"
#include "document/CaptureFileLoader.h"
#include "document/ProgramIds.h"
#include "document/CSelectAdapter.h"
#include "framework/AfxMessageBox.h"
#include "framework/AfxStrings.h"
#include "framework/CCmdUI.h"
#include "framework/CFrameWnd.h"
#include "framework/CListView.h"
#include "framework/CWinApp.h"
#include "packet/CaptureFileReader.h"
#include "packet/CaptureFileWriter.h"
#include "packet/Packet.h"
#include "platform/WinKernel.h"
#include "platform/WinRegistry.h"
#include "platform/WinSock.h"

using namespace win;

namespace {
constexpr const char* kDefaultAdapterValue = "Default Adapter";
// The value buffer: a stored value longer than this counts as not stored.
constexpr DWORD kValueBufferSize = 260;
// A longer stored filter expression counts as not stored.
constexpr DWORD kFilterBufferSize = 4096;
// The program's name in the files it writes.
constexpr const char* kApplicationName = "Quorvane";

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

ULONGLONG Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}
}  // namespace

std::string CCorvelDoc::GroupDigits(unsigned long long value) {
    std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

const CRuntimeClass CCorvelDoc::classCCorvelDoc{"CCorvelDoc", []() -> CObject* { return new CCorvelDoc; }};

const CommandEntry CCorvelDoc::kCommands[] = {
    CommandHandler(ID_CAPTURE_START, &CCorvelDoc::OnCaptureStart),
    UpdateHandler(ID_CAPTURE_START, &CCorvelDoc::OnUpdateCaptureStart),
    CommandHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnCaptureStop),
    UpdateHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnUpdateCaptureStop),
    CommandHandler(ID_CAPTURE_SELECTADAPTER, &CCorvelDoc::OnCaptureSelectAdapter),
    CommandHandler(ID_CAPTURE_FILTER, &CCorvelDoc::OnCaptureFilter),
    CommandHandler(ID_FILE_STOPREADING, &CCorvelDoc::OnFileStopReading),
    UpdateHandler(ID_FILE_STOPREADING, &CCorvelDoc::OnUpdateFileStopReading),
};

const CommandTable* CCorvelDoc::GetCommandTable() const {
    static const CommandTable table{kCommands, CDocument::GetCommandTable()};
    return &table;
}

CCorvelDoc::CCorvelDoc() = default;

// The loader goes first: it appends to the engine's queue. The engine's
// destruction then sets off the shutdown (every WaitForPacket then returns
// false) and deletes the packets still queued. The views have stopped their
// consumers by now (see the header).
CCorvelDoc::~CCorvelDoc() {
    if (m_pLoader) m_pLoader->Stop();
    m_pLoader.reset();
}

BOOL CCorvelDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument()) return FALSE;

    try {
        std::string sAdapterRead;

        std::string sKey;
        AfxLoadString(IDS_REGKEY, sKey);
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, sKey.c_str(), 0, KEY_READ, &hKey) == static_cast<LONG>(ERROR_SUCCESS)) {
            OutputDebugStringA("Opened reg key\n");

            // szTemp holds a defined text only after a successful read; until
            // then the trace shows nothing for it.
            std::string szTemp;
            char buffer[kValueBufferSize] = {};
            DWORD dwSize = sizeof buffer;
            if (RegQueryValueExA(hKey, kDefaultAdapterValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                                 &dwSize) == static_cast<LONG>(ERROR_SUCCESS)) {
                OutputDebugStringA("Read default adapter key\n");
                // The type is not tested: the text is the bytes up to the first NUL.
                szTemp.assign(buffer, ::strnlen(buffer, dwSize));
                sAdapterRead = szTemp;
                m_engine.m_sAdapter = sAdapterRead;
            }

            const std::string line = "szTemp = " + szTemp + ", m_sAdapter = " + m_engine.m_sAdapter +
                                     ", GetLastError = " + std::to_string(GetLastError()) + "\n";
            OutputDebugStringA(line.c_str());

            std::string filter(kFilterBufferSize, '\0');
            DWORD dwFilterSize = kFilterBufferSize;
            const LONG filterRead = RegQueryValueExA(hKey, CCaptureFilterDlg::kValueName, nullptr, nullptr,
                                                     reinterpret_cast<LPBYTE>(filter.data()), &dwFilterSize);
            if (filterRead == static_cast<LONG>(ERROR_SUCCESS))
                m_sCaptureFilter.assign(filter.c_str(), ::strnlen(filter.c_str(), dwFilterSize));
            RegCloseKey(hKey);
        }

        if (sAdapterRead.empty()) {
            CSelectAdapter dlg(nullptr);
            FillAdapters(dlg);
            if (dlg.DoModal() == IDOK) m_engine.m_sAdapter = dlg.m_sSelection;
        }
    } catch (const std::exception& e) {
        AfxMessageBox(e.what());
    }
    return TRUE;
}

bool CCorvelDoc::WaitForPacket() { return m_engine.WaitForPacket(); }

Packet* CCorvelDoc::PopPacket(bool* loaded) { return m_engine.PopPacket(loaded); }

void CCorvelDoc::ReleaseConsumers() { m_engine.ReleaseConsumers(); }

void CCorvelDoc::OnCaptureStart() {
    // Live records must come after every record read from a file.
    StopReading();
    // A stored expression may have been edited by hand: one libpcap refuses
    // stops the start, rather than capturing everything unasked.
    std::string error;
    if (!m_engine.m_captureFilter.Compile(m_sCaptureFilter, error)) {
        AfxMessageBox(("Capture Filter: " + error).c_str());
        return;
    }
    try {
        m_engine.OpenCapture();
        SetCapturingOn(GetAdapterText(m_engine.m_sAdapter));
    } catch (const std::exception& e) {
        AfxMessageBox(e.what());
    }
}

void CCorvelDoc::OnUpdateCaptureStart(CCmdUI* pCmdUI) {
    const bool capturing = m_engine.IsCapturing();
    // A capture that ended without Stop was ended by the system: say why, once.
    if (!capturing && !m_sCapturingOn.empty()) NoteCaptureEnded();
    pCmdUI->Enable(!capturing);
}

void CCorvelDoc::NoteCaptureEnded() {
    const std::string adapter = m_sCapturingOn;
    SetCapturingOn({});
    switch (m_engine.GetCloseError()) {
    case WSAENETDOWN:
        m_sCaptureEnded = "Capture stopped: the interface of " + adapter + " went away";
        break;
    case WSAEADDRNOTAVAIL:
        m_sCaptureEnded = "Capture stopped: the address " + adapter + " went away";
        break;
    case WSAECONNABORTED:
        m_sCaptureEnded = "Capture stopped: the capture helper ended unexpectedly";
        break;
    default:
        return;  // stopped for lack of memory, which says so itself, or by Open
    }
    SetStatusText(m_sCaptureEnded);
}

void CCorvelDoc::OnCaptureStop() {
    m_engine.CloseCapture();
    SetCapturingOn({});
}

bool CCorvelDoc::TakeMemoryStop() { return m_engine.TakeMemoryStop(); }

void CCorvelDoc::OnCaptureMemoryStop() {
    OnCaptureStop();
    AfxMessageBox(kMemoryStopText);
}

void CCorvelDoc::OnUpdateCaptureStop(CCmdUI* pCmdUI) { pCmdUI->Enable(m_engine.IsCapturing()); }

void CCorvelDoc::OnCaptureSelectAdapter() {
    try {
        CSelectAdapter dlg(nullptr);
        FillAdapters(dlg);
        dlg.m_sSelection = m_engine.m_sAdapter;
        if (dlg.DoModal() == IDOK) m_engine.m_sAdapter = dlg.m_sSelection;
    } catch (const std::exception& e) {
        AfxMessageBox(e.what());
    }
}

void CCorvelDoc::OnCaptureFilter() {
    CCaptureFilterDlg dlg(nullptr);
    dlg.m_sFilter = m_sCaptureFilter;
    if (dlg.DoModal() == IDOK) m_sCaptureFilter = dlg.m_sFilter;
}

void CCorvelDoc::FillAdapters(CSelectAdapter& dlg) {
    m_engine.EnumerateInterfaces(dlg.m_adapters);
    dlg.m_interfaceNames = m_engine.GetInterfaceNames();
}

std::string CCorvelDoc::GetAdapterText(const std::string& address) {
    const std::string name = m_engine.GetInterfaceName(address);
    return name.empty() ? address : address + " (" + name + ")";
}

void CCorvelDoc::SetCapturingOn(const std::string& text) {
    if (text == m_sCapturingOn) return;
    m_sCapturingOn = text;
    // Setting the title again has every frame of the document build its caption anew.
    SetTitle(GetTitle());
}

CListCtrl* CCorvelDoc::FindList() const {
    for (CView* view : GetViews())
        if (auto* list = dynamic_cast<CListView*>(view)) return &list->GetListCtrl();
    return nullptr;
}

void CCorvelDoc::SetStatusText(const std::string& text) {
    if (auto* frame = dynamic_cast<CFrameWnd*>(AfxGetMainWnd())) frame->SetMessageText(text);
}

void CCorvelDoc::NoteCapturedRow() {
    m_nCapturedRows.fetch_add(1);
    SetModifiedFlag(TRUE);
}

void CCorvelDoc::Serialize(CArchive& ar) {
    if (!ar.IsStoring()) return;
    CListCtrl* list = FindList();
    // The rows saved are those present now; a row captured from here on keeps
    // the document modified (OnSaveDocument). Only this thread deletes records,
    // so the records of these rows stay while they are written.
    int count = 0;
    if (list) {
        CListCtrl::RowLock lock(*list);
        count = list->GetItemCount();
        m_nSavedRows = m_nCapturedRows.load();
    }
    CaptureFileWriter writer(ar.GetFile());
    writer.WriteHeader(kApplicationName, m_bLoaded ? std::string() : m_engine.m_sAdapter);
    for (int i = 0; i < count; ++i) {
        auto* packet = reinterpret_cast<Packet*>(list->GetItemData(i));
        if (!packet) continue;
        writer.WriteDatagram(packet->GetData(), packet->GetReceived(), packet->GetArrivalTime());
    }
    if (!m_bLoaded) writer.WriteStatistics(Now(), m_engine.GetLostCount());
    writer.Finish();
}

BOOL CCorvelDoc::OnSaveDocument(LPCSTR pathName) {
    m_nSavedRows = m_nCapturedRows.load();
    if (!CDocument::OnSaveDocument(pathName)) return FALSE;
    if (m_nCapturedRows.load() != m_nSavedRows) SetModifiedFlag(TRUE);
    return TRUE;
}

BOOL CCorvelDoc::OnOpenDocument(LPCSTR pathName) {
    const std::string path = pathName ? pathName : "";
    // A FIFO or a device would block the reader, and a folder is no file.
    if (!CheckOpenable(pathName)) return FALSE;
    auto reader = std::make_unique<CaptureFileReader>();
    std::string error;
    if (!reader->Open(path, error)) {
        AfxMessageBox("Couldn't open \"" + path + "\": " + error);
        return FALSE;
    }
    // The file replaces the capture: no live record may mix with its rows.
    m_engine.CloseCapture();
    DeleteContents();
    m_bLoaded = true;
    SetModifiedFlag(FALSE);

    const std::vector<CView*>& views = GetViews();
    const HWND notify = views.empty() ? nullptr : views.front()->m_hWnd;
    m_sLoadPath = path;
    m_pLoader = std::make_unique<CaptureFileLoader>(m_engine, std::move(reader), notify, kLoadMessage, ++m_nLoadTag);
    if (!m_pLoader->Start()) {
        m_pLoader.reset();
        AfxMessageBox("Couldn't open \"" + path + "\": no thread to read it");
        return FALSE;
    }
    SetStatusText("Reading " + FileName(path) + "...");
    return TRUE;
}

void CCorvelDoc::DeleteContents() {
    StopReading();
    m_engine.DiscardQueued(false);
    m_bLoaded = false;
    UpdateAllViews(nullptr, kHintDeleteRows);
}

bool CCorvelDoc::PrepareClear() {
    if (!SaveModified()) return false;
    StopReading();
    // Records read and not yet shown go with the rows.
    m_engine.DiscardQueued(true);
    SetModifiedFlag(FALSE);
    return true;
}

bool CCorvelDoc::IsReading() const { return m_pLoader && m_pLoader->IsRunning(); }

void CCorvelDoc::StopReading() {
    if (!m_pLoader) return;
    m_pLoader->Stop();
    FinishReading();
}

void CCorvelDoc::OnFileStopReading() { StopReading(); }

void CCorvelDoc::OnUpdateFileStopReading(CCmdUI* pCmdUI) { pCmdUI->Enable(IsReading()); }

void CCorvelDoc::OnLoadMessage(WPARAM tag, LPARAM what) {
    // A message of a reading already stopped (or replaced) is late: ignore it.
    if (!m_pLoader || tag != m_pLoader->GetTag()) return;
    if (what == CaptureFileLoader::kDone) {
        m_pLoader->Stop();
        FinishReading();
        return;
    }
    SetStatusText("Reading " + FileName(m_sLoadPath) + ": " + std::to_string(m_pLoader->GetPercent()) + "%, " +
                  GroupDigits(m_pLoader->GetDatagramCount()) + " datagrams (Esc stops)");
}

void CCorvelDoc::FinishReading() {
    std::unique_ptr<CaptureFileLoader> loader = std::move(m_pLoader);
    const std::string name = FileName(m_sLoadPath);
    std::string text = (loader->WasStopped() ? "Reading stopped: " : "") + GroupDigits(loader->GetDatagramCount()) +
                       " datagrams read from " + name;
    if (const unsigned long long skipped = loader->GetSkippedCount())
        text += ", " + GroupDigits(skipped) + (skipped == 1 ? " frame" : " frames") + " without IPv4 skipped";
    if (loader->IsDamaged()) text += "; the file is damaged after that";
    SetStatusText(text);
    if (loader->IsDamaged())
        AfxMessageBox("Couldn't read all of \"" + m_sLoadPath + "\": " + loader->GetError() + ". The " +
                      GroupDigits(loader->GetDatagramCount()) + " datagrams before the damage are shown.");
}
