// The capture document: adapter choice at creation, the capture commands and
// the packet hand-over to the view's consumer thread.
#include "document/CCorvelDoc.h"

#include <cstring>
#include <exception>
#include <string>

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
}  // namespace

const CRuntimeClass CCorvelDoc::classCCorvelDoc{"CCorvelDoc", []() -> CObject* { return new CCorvelDoc; }};

const CommandEntry CCorvelDoc::kCommands[] = {
    CommandHandler(ID_CAPTURE_START, &CCorvelDoc::OnCaptureStart),
    UpdateHandler(ID_CAPTURE_START, &CCorvelDoc::OnUpdateCaptureStart),
    CommandHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnCaptureStop),
    UpdateHandler(ID_CAPTURE_STOP, &CCorvelDoc::OnUpdateCaptureStop),
    CommandHandler(ID_CAPTURE_SELECTADAPTER, &CCorvelDoc::OnCaptureSelectAdapter),
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
            RegCloseKey(hKey);
        }

        if (sAdapterRead.empty()) {
            CSelectAdapter dlg(nullptr);
            m_engine.EnumerateInterfaces(dlg.m_adapters);
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
    try {
        m_engine.OpenCapture();
    } catch (const std::exception& e) {
        AfxMessageBox(e.what());
    }
}

void CCorvelDoc::OnUpdateCaptureStart(CCmdUI* pCmdUI) { pCmdUI->Enable(!m_engine.IsCapturing()); }

void CCorvelDoc::OnCaptureStop() { m_engine.CloseCapture(); }

bool CCorvelDoc::TakeMemoryStop() { return m_engine.TakeMemoryStop(); }

void CCorvelDoc::OnCaptureMemoryStop() {
    OnCaptureStop();
    AfxMessageBox(kMemoryStopText);
}

void CCorvelDoc::OnUpdateCaptureStop(CCmdUI* pCmdUI) { pCmdUI->Enable(m_engine.IsCapturing()); }

void CCorvelDoc::OnCaptureSelectAdapter() {
    try {
        CSelectAdapter dlg(nullptr);
        m_engine.EnumerateInterfaces(dlg.m_adapters);
        dlg.m_sSelection = m_engine.m_sAdapter;
        if (dlg.DoModal() == IDOK) m_engine.m_sAdapter = dlg.m_sSelection;
    } catch (const std::exception& e) {
        AfxMessageBox(e.what());
    }
}
