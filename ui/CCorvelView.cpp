// The packet list view: see CCorvelView.h.
#include "ui/CCorvelView.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "document/CCorvelDoc.h"
#include "document/ProgramIds.h"
#include "framework/AfxClipboard.h"
#include "framework/AfxMessageBox.h"
#include "framework/CEditBar.h"
#include "framework/CFrameWnd.h"
#include "framework/FrameworkIds.h"
#include "packet/Packet.h"
#include "platform/WinSock.h"
#include "ui/ResolverLink.h"

using namespace win;

namespace {

struct Column {
    const char* heading;
    int format;
    int width;
};

const Column kColumns[] = {
    {"Timestamp", LVCFMT_LEFT, 80},    {"Source Address", LVCFMT_LEFT, 100}, {"Source Port", LVCFMT_RIGHT, 70},
    {"Dest. Address", LVCFMT_LEFT, 100}, {"Dest. Port", LVCFMT_RIGHT, 70},   {"Type", LVCFMT_LEFT, 50},
    {"Size", LVCFMT_RIGHT, 50},        {"Info", LVCFMT_LEFT, 200},
};

constexpr int kSourceAddressColumn = 1;
constexpr int kDestAddressColumn = 3;
constexpr DWORD kListStyles = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
constexpr DWORD kExtendedStyles = LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_TWOCLICKACTIVATE;
constexpr DWORD kPacketWindowStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
static_assert(kListStyles == 0x0D && kExtendedStyles == 0xB0 && kPacketWindowStyle == 0x10CF0000);

// Sets one cell's text by a text-only item update.
void SetCell(CListCtrl& list, int row, int column, const char* text) {
    LVITEM item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    list.SetItem(&item);
}

// "label: 1,234,567".
std::string Counter(const char* label, unsigned long long value) {
    return std::string(label) + ": " + CCorvelDoc::GroupDigits(value);
}

// text holds at least six characters.
void SetPort(CListCtrl& list, int row, int column, WORD port, char* text) {
    *std::to_chars(text, text + 5, port).ptr = '\0';
    SetCell(list, row, column, text);
}

}  // namespace

const CRuntimeClass CCorvelView::classCCorvelView{"CCorvelView", []() -> CObject* { return new CCorvelView; }};

const CommandEntry CCorvelView::kCommands[] = {
    CommandHandler(ID_CAPTURE_CLEAR, &CCorvelView::OnCaptureClear),
    NotifyHandler(NM_DBLCLK, &CCorvelView::OnDblClick),
    NotifyHandler(NM_CLICK, &CCorvelView::OnClick),
    CommandHandler(ID_CAPTURE_RESOLVEADDRESSES, &CCorvelView::OnCaptureResolveAddresses),
    UpdateHandler(ID_CAPTURE_RESOLVEADDRESSES, &CCorvelView::OnUpdateCaptureResolveAddresses),
    CommandHandler(afx::ID_FILE_PRINT, &CView::OnFilePrint),
    CommandHandler(afx::ID_FILE_PRINT_DIRECT, &CView::OnFilePrint),
    CommandHandler(afx::ID_FILE_PRINT_PREVIEW, &CView::OnFilePrintPreview),
    CommandHandler(ID_VIEW_FOLLOW, &CCorvelView::OnViewFollow),
    UpdateHandler(ID_VIEW_FOLLOW, &CCorvelView::OnUpdateViewFollow),
    CommandHandler(afx::ID_EDIT_COPY, &CCorvelView::OnEditCopy),
    UpdateHandler(afx::ID_EDIT_COPY, &CCorvelView::OnUpdateEditCopy),
    CommandHandler(ID_DISPLAYFILTER_APPLY, &CCorvelView::OnDisplayFilterApply),
    UpdateHandler(ID_INDICATOR_CAPTURED, &CCorvelView::OnUpdateIndicatorCaptured),
    UpdateHandler(ID_INDICATOR_SHOWN, &CCorvelView::OnUpdateIndicatorShown),
    UpdateHandler(ID_INDICATOR_LOST, &CCorvelView::OnUpdateIndicatorLost),
};

const CommandTable* CCorvelView::GetCommandTable() const {
    static const CommandTable table{kCommands, CListView::GetCommandTable()};
    return &table;
}

CCorvelView::CCorvelView() : m_hResolverThread(nullptr), m_hConsumerThread(nullptr), m_bStopping(false) {}

CCorvelView::~CCorvelView() {
    // The window, and with it the consumer, is normally gone already (OnDestroy).
    if (m_pResolverLink) m_pResolverLink->Close();
    if (m_hResolverThread) CloseHandle(m_hResolverThread);
}

CCorvelDoc* CCorvelView::GetDocument() const { return static_cast<CCorvelDoc*>(m_pDocument); }

BOOL CCorvelView::PreCreateWindow(CREATESTRUCT& cs) { return CListView::PreCreateWindow(cs); }

int CCorvelView::OnCreate(LPCREATESTRUCT cs) {
    if (CListView::OnCreate(cs) == -1) return -1;
    ModifyStyle(0, kListStyles);
    CListCtrl& list = GetListCtrl();
    list.SetExtendedStyle(kExtendedStyles, 0);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        list.InsertColumn(i, kColumns[i].heading, kColumns[i].format, kColumns[i].width);
    m_pResolverLink = std::make_shared<ResolverLink>(list);
    return 0;
}

void CCorvelView::OnInitialUpdate() {
    CListView::OnInitialUpdate();
    // One consumer per view: File New and File Open repeat the initial update
    // on the same document, and a second consumer would interleave its rows
    // with the first one's.
    if (m_hConsumerThread || !GetDocument()) return;
    m_hConsumerThread = CreateThread(nullptr, 0, &CCorvelView::ConsumerThreadProc, this, 0, nullptr);
}

void CCorvelView::OnDraw(CDC*) {}

DWORD CCorvelView::ConsumerThreadProc(LPVOID param) {
    static_cast<CCorvelView*>(param)->ConsumePackets();
    return 0;
}

void CCorvelView::ConsumePackets() {
    CCorvelDoc* doc = GetDocument();
    CaptureEngine& engine = doc->m_engine;
    for (;;) {
        EnterCriticalSection(&engine.m_csQueue);
        // Once the view stops, records stay queued: the engine frees them.
        if (!m_bStopping.load() && !engine.m_packets.empty()) {
            bool loaded = false;
            Packet* packet = doc->PopPacket(&loaded);
            LeaveCriticalSection(&engine.m_csQueue);
            AddPacketRow(packet, !loaded);
            continue;
        }
        LeaveCriticalSection(&engine.m_csQueue);
        // The engine stopped for lack of memory: the UI thread tells the user.
        if (doc->TakeMemoryStop()) PostMessage(m_hWnd, kMemoryStopMessage, 0, 0);
        if (m_bStopping.load() || !doc->WaitForPacket()) return;
    }
}

void CCorvelView::AddPacketRow(Packet* packet, bool captured) {
    int row = -1;
    try {
        // The row comes with all its cells: a publish between the insertion
        // and the last cell would show it part empty for a frame. The mark
        // comes under the same lock, so a Save sees either the row or the mark.
        CListCtrl::RowLock whole(GetListCtrl());
        row = InsertPacketRow(packet);
        if (row >= 0 && captured)
            if (CCorvelDoc* doc = GetDocument()) doc->NoteCapturedRow();
    } catch (const std::bad_alloc&) {
        // Out of memory before the row took the record: drop this datagram.
    }
    if (row < 0) {
        delete packet;
        return;
    }
    GetListCtrl().EnsureVisible(row, FALSE);
}

int CCorvelView::InsertPacketRow(Packet* packet) {
    packet->Decode();
    CListCtrl& list = GetListCtrl();
    char text[256];

    LVITEM item{};
    item.mask = LVIF_TEXT;
    item.iItem = list.GetItemCount();
    item.pszText = const_cast<char*>(packet->GetTimestamp());
    const int row = list.InsertItem(&item);
    if (row < 0) return -1;

    packet->GetSourceAddress(text);
    SetCell(list, row, 1, text);
    SetPort(list, row, 2, packet->GetSourcePort(), text);
    packet->GetDestAddress(text);
    SetCell(list, row, 3, text);
    SetPort(list, row, 4, packet->GetDestPort(), text);
    packet->GetProtocol(text);
    SetCell(list, row, 5, text);
    packet->GetSize(text);
    SetCell(list, row, 6, text);
    packet->GetInfo(text);
    SetCell(list, row, 7, text);

    // From here on the row owns the record. If a Clear removed the row in the
    // meantime, no one else holds the record: the caller deletes it.
    LVITEM data{};
    data.mask = LVIF_PARAM;
    data.iItem = row;
    data.lParam = reinterpret_cast<LPARAM>(packet);
    return list.SetItem(&data) ? row : -1;
}

LRESULT CCorvelView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMemoryStopMessage) {
        if (CCorvelDoc* doc = GetDocument()) doc->OnCaptureMemoryStop();
        return 0;
    }
    if (message == CCorvelDoc::kLoadMessage) {
        if (CCorvelDoc* doc = GetDocument()) doc->OnLoadMessage(wParam, lParam);
        return 0;
    }
    return CListView::WindowProc(message, wParam, lParam);
}

void CCorvelView::DeleteAllPackets() {
    CListCtrl& list = GetListCtrl();
    {
        // Reading the records and removing their rows act as one, so that no
        // resolution pass reads a record between its deletion and its row's.
        CListCtrl::RowLock lock(list);
        const int count = list.GetItemCount();
        for (int i = 0; i < count; ++i) {
            LVITEM item{};
            item.mask = LVIF_PARAM;
            item.iItem = i;
            if (list.GetItem(&item) && item.lParam) delete reinterpret_cast<Packet*>(item.lParam);
        }
        list.DeleteAllItems();
    }
    // The detail window keeps its text but must not refer to a freed record.
    m_wndPacket.m_pPacket = nullptr;
}

void CCorvelView::OnCaptureClear() {
    // Unsaved rows are not dropped without asking.
    if (CCorvelDoc* doc = GetDocument(); doc && !doc->PrepareClear()) return;
    DeleteAllPackets();
    // Nothing is left to read back: the list follows again, and counts anew.
    GetListCtrl().SetFollow(TRUE);
    if (CCorvelDoc* doc = GetDocument()) m_nLostAtClear = doc->m_engine.GetLostCount();
}

void CCorvelView::OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) {
    if (hint == CCorvelDoc::kHintDeleteRows) {
        DeleteAllPackets();
        return;
    }
    CListView::OnUpdate(sender, hint, hintObject);
}

void CCorvelView::OnViewFollow() {
    CListCtrl& list = GetListCtrl();
    list.SetFollow(list.GetFollow() ? FALSE : TRUE);
}

void CCorvelView::OnUpdateViewFollow(CCmdUI* pCmdUI) {
    pCmdUI->Enable(TRUE);
    pCmdUI->SetCheck(GetListCtrl().GetFollow() ? 1 : 0);
}

std::string CCorvelView::GetSelectedRowsText() const {
    CListCtrl& list = GetListCtrl();
    const int columns = list.GetColumnCount();
    std::string text;
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row != -1; row = list.GetNextItem(row, LVNI_SELECTED)) {
        if (!text.empty()) text += '\n';
        for (int column = 0; column < columns; ++column) {
            if (column > 0) text += '\t';
            text += list.GetItemText(row, column);
        }
    }
    return text;
}

void CCorvelView::OnEditCopy() {
    const std::string text = GetSelectedRowsText();
    if (!text.empty()) AfxSetClipboardText(text);
}

void CCorvelView::OnUpdateEditCopy(CCmdUI* pCmdUI) {
    pCmdUI->Enable(GetListCtrl().GetNextItem(-1, LVNI_SELECTED) != -1 ? TRUE : FALSE);
}

bool CCorvelView::ApplyDisplayFilter(const std::string& expression, std::string& error) {
    PacketFilter filter;
    if (!filter.Compile(expression, error)) return false;
    m_displayFilter = std::move(filter);
    CListCtrl& list = GetListCtrl();
    if (m_displayFilter.IsEmpty()) {
        list.SetRowFilter({});
        return true;
    }
    // Runs on the UI thread, where records are freed: the record a row's
    // data names is alive while it is matched.
    const PacketFilter* filterInForce = &m_displayFilter;
    list.SetRowFilter([filterInForce](LPARAM data) {
        auto* packet = reinterpret_cast<Packet*>(data);
        if (!packet) return false;
        return filterInForce->Match(packet->GetData(), packet->GetReceived(), packet->GetSize(nullptr));
    });
    return true;
}

void CCorvelView::OnDisplayFilterApply() {
    CFrameWnd* frame = GetParentFrame();
    auto* bar = frame ? dynamic_cast<CEditBar*>(frame->GetControlBar(IDW_DISPLAYFILTER)) : nullptr;
    if (!bar) return;
    std::string error;
    // An invalid expression changes nothing but the field, which shows why.
    bar->SetError(ApplyDisplayFilter(bar->GetText(), error) ? std::string() : error);
}

unsigned long long CCorvelView::GetLostSinceClear() const {
    CCorvelDoc* doc = GetDocument();
    const unsigned long long lost = doc ? doc->m_engine.GetLostCount() : 0;
    return lost >= m_nLostAtClear ? lost - m_nLostAtClear : lost;
}

void CCorvelView::OnUpdateIndicatorCaptured(CCmdUI* pCmdUI) {
    pCmdUI->Enable(TRUE);
    pCmdUI->SetText(Counter("Captured", static_cast<unsigned long long>(GetListCtrl().GetItemCount())));
}

void CCorvelView::OnUpdateIndicatorShown(CCmdUI* pCmdUI) {
    // Only while a display filter hides rows.
    pCmdUI->Enable(m_displayFilter.IsEmpty() ? FALSE : TRUE);
    pCmdUI->SetText(Counter("Shown", static_cast<unsigned long long>(GetListCtrl().GetShownCount())));
}

void CCorvelView::OnUpdateIndicatorLost(CCmdUI* pCmdUI) {
    pCmdUI->Enable(TRUE);
    pCmdUI->SetText(Counter("Lost", GetLostSinceClear()));
}

void CCorvelView::OnDestroy() {
    CListView::OnDestroy();
    // Passes stop touching the list; one blocked in a lookup ends on its own.
    if (m_pResolverLink) m_pResolverLink->Close();
    if (m_hConsumerThread) {
        m_bStopping.store(true);
        if (CCorvelDoc* doc = GetDocument()) doc->ReleaseConsumers();
        // The consumer's list operations never wait for this thread, so it
        // reaches its end while we wait here.
        WaitForSingleObject(m_hConsumerThread, INFINITE);
        CloseHandle(m_hConsumerThread);
        m_hConsumerThread = nullptr;
    }
    DeleteAllPackets();
}

void CCorvelView::OnDblClick(NMHDR*, LRESULT* pResult) {
    CListCtrl& list = GetListCtrl();
    const int selected = list.GetNextItem(-1, LVNI_SELECTED);
    if (selected != -1) {
        m_wndPacket.m_pPacket = reinterpret_cast<Packet*>(list.GetItemData(selected));
        if (IsWindow(m_wndPacket.m_hWnd)) {
            m_wndPacket.Refresh();
        } else {
            const LPCSTR className = AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW), nullptr, nullptr);
            const CRect rect(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
            if (!m_wndPacket.CreateEx(0, className, "Packet", kPacketWindowStyle, rect, this, 0, nullptr))
                AfxMessageBox("Couldn't display packet window", MB_OK, 0);
        }
    }
    *pResult = 0;
}

void CCorvelView::OnClick(NMHDR*, LRESULT* pResult) {
    if (IsWindow(m_wndPacket.m_hWnd)) {
        CListCtrl& list = GetListCtrl();
        const int selected = list.GetNextItem(-1, LVNI_SELECTED);
        if (selected != -1) {
            m_wndPacket.m_pPacket = reinterpret_cast<Packet*>(list.GetItemData(selected));
            m_wndPacket.Refresh();
        }
    }
    *pResult = 0;
}

void CCorvelView::OnCaptureResolveAddresses() {
    if (!m_pResolverLink) return;
    auto* link = new std::shared_ptr<ResolverLink>(m_pResolverLink);
    HANDLE thread = CreateThread(nullptr, 0, &CCorvelView::ResolverThreadProc, link, 0, nullptr);
    if (!thread) {
        delete link;
        return;
    }
    if (m_hResolverThread) CloseHandle(m_hResolverThread);
    m_hResolverThread = thread;
}

void CCorvelView::OnUpdateCaptureResolveAddresses(CCmdUI*) {}

DWORD CCorvelView::ResolverThreadProc(LPVOID param) {
    std::unique_ptr<std::shared_ptr<ResolverLink>> link(static_cast<std::shared_ptr<ResolverLink>*>(param));
    ResolveAllAddresses(**link);
    return 0;
}

void CCorvelView::ResolveAllAddresses(ResolverLink& link) {
    std::uint64_t generation = 0;
    int count = 0;
    if (!link.Use([&](CListCtrl& list) { count = list.GetItemCount(generation); })) return;

    char name[kNameSize];
    for (int i = 0; i < count; ++i) {
        // The addresses are copied out of the record under the list's guard,
        // so that a Clear cannot free it meanwhile; a row that is gone (Clear
        // since the count) ends the pass.
        Packet* record = nullptr;
        DWORD source = 0;
        DWORD dest = 0;
        BOOL present = FALSE;
        const bool open = link.Use([&](CListCtrl& list) {
            present = list.WithItemData(i, generation, [&](LPARAM data) {
                record = reinterpret_cast<Packet*>(data);
                if (!record) return;
                source = record->GetSourceAddress(nullptr);
                dest = record->GetDestAddress(nullptr);
            });
        });
        if (!open || !present) return;
        // A row whose record is not attached yet has nothing to look up.
        if (!record) continue;

        // The generation stands for the record: rows are only removed all at
        // once, so a row of the same generation still holds the same record.
        // A name is set only then; after a Clear the pass ends.
        const std::pair<int, DWORD> lookups[] = {{kSourceAddressColumn, source}, {kDestAddressColumn, dest}};
        for (const auto& [column, address] : lookups) {
            if (!ResolveAddress(address, name)) continue;
            BOOL set = FALSE;
            if (!link.Use([&](CListCtrl& list) { set = list.SetItemTextIf(i, column, name, generation); }) || !set)
                return;
        }
    }
}

bool CCorvelView::ResolveAddress(DWORD address, char* name, int size) {
    if (!name || size <= 0) return false;
    const win::u_long network = htonl(address);
    char bytes[4];
    std::memcpy(bytes, &network, sizeof bytes);
    hostent* host = gethostbyaddr(bytes, 4, AF_INET);
    if (!host || !host->h_name) return false;
    // Copied as lstrcpyn does: at most size - 1 characters, always terminated.
    std::strncpy(name, host->h_name, static_cast<std::size_t>(size) - 1);
    name[size - 1] = '\0';
    return true;
}

BOOL CCorvelView::OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }
void CCorvelView::OnBeginPrinting(CDC*, CPrintInfo*) {}
void CCorvelView::OnEndPrinting(CDC*, CPrintInfo*) {}
