// The packet detail window: see CPacketWnd.h. The header part is inserted
// piece by piece, each in its own face and colour; the dump is built in memory
// and inserted with one message.
#include "ui/CPacketWnd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "packet/Packet.h"
#include "ui/PacketDump.h"

using namespace win;

namespace {

// Edit control styles of the text control.
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_WANTRETURN = 0x1000;
constexpr DWORD kTextStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                             ES_AUTOHSCROLL | ES_WANTRETURN;
static_assert(kTextStyle == 0x503010C4);

constexpr WORD kProtocolTcp = 6;
constexpr int kWidth = 800;
constexpr int kHeight = 480;

void CopyFace(CHARFORMAT& format, const char* face) {
    std::strncpy(format.szFaceName, face, sizeof format.szFaceName - 1);
    format.szFaceName[sizeof format.szFaceName - 1] = '\0';
}

}  // namespace

CPacketWnd::CPacketWnd() : m_pPacket(nullptr) {}

CPacketWnd::~CPacketWnd() {
    // Destroying the window here, while this is still a CPacketWnd, takes the
    // text control with it.
    if (m_hWnd) DestroyWindow();
}

int CPacketWnd::OnCreate(LPCREATESTRUCT cs) {
    if (CWnd::OnCreate(cs) == -1) return -1;

    m_wndText.Create(kTextStyle, CRect(0, 0, 0, 0), this, 0);
    m_wndText.SendMessage(EM_SETREADONLY, TRUE, 0);
    m_wndText.HideCaret();

    CHARFORMAT format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_PROTECTED | CFM_OFFSET | CFM_COLOR |
                    CFM_SIZE | CFM_FACE;
    format.dwEffects = CFE_AUTOCOLOR;
    format.yHeight = 200;
    format.yOffset = 0;
    format.crTextColor = 0;
    format.bCharSet = 0;
    format.bPitchAndFamily = 0;
    CopyFace(format, "Arial");
    m_wndText.SendMessage(EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));

    // The resulting size notification makes the text control fill the client area.
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER);
    Refresh();
    return 0;
}

void CPacketWnd::OnSize(UINT type, int cx, int cy) {
    CWnd::OnSize(type, cx, cy);
    m_wndText.SetWindowPos(nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
}

void CPacketWnd::SetFace(const char* face) {
    CHARFORMAT format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE;
    format.bPitchAndFamily = 0;
    CopyFace(format, face);
    m_wndText.SendMessage(EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

void CPacketWnd::SetColor(COLORREF color) {
    CHARFORMAT format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.dwEffects = 0;
    format.crTextColor = color;
    m_wndText.SendMessage(EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

void CPacketWnd::Insert(const char* text) {
    m_wndText.SendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void CPacketWnd::Refresh() {
    CHARRANGE all{0, -1};
    m_wndText.SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    m_wndText.SendMessage(WM_CLEAR, 0, 0);
    if (!m_pPacket) return;

    // Large enough for every text operation of the record (at most 29 characters).
    char text[256];

    SetFace("Arial");
    SetColor(kHeadingColor);
    Insert("IP Header\r\n");
    SetColor(kLabelColor);
    Insert("Source Address: ");
    SetColor(kValueColor);
    m_pPacket->GetSourceAddress(text);
    Insert(text);
    Insert("\r\n");
    SetColor(kLabelColor);
    Insert("Destination Address: ");
    SetColor(kValueColor);
    m_pPacket->GetDestAddress(text);
    Insert(text);
    Insert("\r\n\r\n");

    SetColor(kHeadingColor);
    const WORD protocol = m_pPacket->GetProtocol(text);
    Insert(text);
    Insert(" Header\r\n");
    SetColor(kLabelColor);
    if (protocol == kProtocolTcp) {
        Insert("TCP Source Port: ");
        SetColor(kValueColor);
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(m_pPacket->GetSourcePort()));
        Insert(text);
        Insert("\r\n");
        SetColor(kLabelColor);
        Insert("TCP Destination Port: ");
        SetColor(kValueColor);
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(m_pPacket->GetDestPort()));
        Insert(text);
        Insert("\r\n");
    }

    SetColor(kHeadingColor);
    Insert("\r\nRaw Bytes:\r\n");

    // The dump covers the total length the header states, but never more than
    // was received: the record holds only the bytes received.
    int count = std::min<int>(m_pPacket->GetSize(nullptr), m_pPacket->GetReceived());
    count = std::min(count, m_pPacket->GetCapacity());
    std::string dump;
    PacketDump::Build(m_pPacket->GetData(), count, dump);
    SetFace("Courier");
    SetColor(kLabelColor);
    Insert(dump.c_str());
}
