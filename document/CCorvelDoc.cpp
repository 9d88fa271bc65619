// The capture document: adapter choice at creation, the capture commands and
// the packet hand-over to the view's consumer thread.
#include "document/CCorvelDoc.h"

#include <cstring>
#include <exception>
#include <string>

#include "document/CCaptureFilterDlg.h"
#include "document/ProgramIds.h"
#include "document/CSelectAdapter.h"
#include "framework/AfxMessageBox.h"
#include "framework/AfxStrings.h"
#include "framework/CCmdUI.h"
#include "platform/WinKernel.h"
#include "platform/WinRegistry.h"

using namespace win;

namespace {
constexpr const char* kDefaultAdapterValue = "Default Adapter";
// The value buffer: a stored value longer than this counts as not stored.
constexpr DWORD kValueBufferSize = 260;
// A longer stored filter expression counts as not stored.
constexpr DWORD kFilterBufferSize = 4096;
}  // namespace

const CRuntimeClass CCorvelDoc::classCCorvelDoc{"CCorvelDoc", []() -> CObject* { return new CCorvelDoc; }};

const CommandEntry CCorvelDoc::kCommands[] = {
    CommandHandler(ID_CAPTURE_START, &CCorvelDoc::OnCaptureStart),
    UpdateHandler(ID_CAPTURE_START, &CCorvelDoc::OnUpdateCaptureStart),
    CommandHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnCaptureStop),
    UpdateHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnUpdateCaptureStop),
    CommandHandler(ID_CAPTURE_SELECTADAPTER, &CCorvelDoc::OnCaptureSelectAdapter),
    CommandHandler(ID_CAPTURE_FILTER, &CCorvelDoc::OnCaptureFilter),
};

const CommandTable* CCorvelDoc::GetCommandTable() const {
    static const CommandTable table{kCommands, CDocument::GetCommandTable()};
    return &table;
}

CCorvelDoc::CCorvelDoc() = default;

// The engine's destruction sets off the shutdown (every WaitForPacket then
// returns false) and deletes the packets still queued. The views have stopped
// their consumers by now (see the header).
CCorvelDoc::~CCorvelDoc() = default;

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

void CCorvelDoc::Serialize(CArchive&) {}

bool CCorvelDoc::WaitForPacket() { return m_engine.WaitForPacket(); }

Packet* CCorvelDoc::PopPacket() { return m_engine.PopPacket(); }

void CCorvelDoc::ReleaseConsumers() { m_engine.ReleaseConsumers(); }

void CCorvelDoc::OnCaptureStart() {
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

void CCorvelDoc::OnUpdateCaptureStart(CCmdUI* pCmdUI) { pCmdUI->Enable(!m_engine.IsCapturing()); }

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
