// The packet list view: the main window's only view, a report-mode list with
// one row per captured IPv4 datagram, newest at the bottom. Its consumer thread
// takes the records out of the document's engine, decodes them and appends
// their rows; a row owns its record until Clear or the window's destruction.
// It carries Clear and Resolve IP Addresses, opens the detail window on a
// double-click and keeps it in step with clicked rows, and hands printing to
// the framework (blank pages).
//
// The person works with a live list: it follows new rows until they move
// away from its end (View > Follow New Packets shows and sets it); a display
// filter, a tcpdump expression matched against each row's datagram, hides
// the rows that do not match while they stay in the list (the list's item
// operations still reach every one); Edit > Copy puts the selected row's texts on the
// clipboard; the status bar counts the datagrams the list holds, those shown
// and those the system dropped since the last Clear.
//
// Threads. The UI thread runs every handler and DeleteAllPackets. The consumer
// thread (one per view, started at the first initial update) runs
// ConsumePackets and AddPacketRow; it reaches the list only through the list
// control's cross-thread row operations, which never wait for the UI thread.
// Resolver threads (one per Resolve IP Addresses) run one pass each and reach
// the list only through the view's ResolverLink.
//
// Shutdown (OnDestroy, UI thread): the resolver link is closed, so passes stop
// touching the list (a pass blocked in a lookup is not waited for); the
// consumer is told to stop, the engine's consumers are released through the
// document and the consumer thread is joined, which cannot deadlock because
// the consumer never waits for the UI thread; then every record is deleted.
// Records still queued in the engine stay there and are freed with it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "framework/CListView.h"
#include "packet/PacketFilter.h"
#include "platform/WinKernel.h"
#include "ui/CPacketWnd.h"

class CCorvelDoc;
class Packet;
class ResolverLink;

class CCorvelView : public win::CListView {
public:
    /// Capacity of the host-name buffer of a lookup, terminator included.
    static constexpr int kNameSize = 256;

    CCorvelView();
    ~CCorvelView() override;

    static const win::CRuntimeClass classCCorvelView;
    const win::CRuntimeClass* GetRuntimeClass() const override { return &classCCorvelView; }

    CCorvelDoc* GetDocument() const;

    /// Starts the consumer thread, once per view: a repeated initial update
    /// (File New, File Open) finds it running and starts none.
    void OnInitialUpdate() override;
    void OnDraw(win::CDC* dc) override;

    /// Consumer thread: decodes one record and appends its row, which then owns
    /// it. A record that no row can take (also when memory runs out) is deleted.
    /// captured: the record came from the capture (the consumer says so for
    /// every live record), so that its row marks the document modified.
    void AddPacketRow(Packet* packet, bool captured = false);
    /// The document's hint CCorvelDoc::kHintDeleteRows removes every row.
    void OnUpdate(win::CView* sender, win::LPARAM hint, win::CObject* hintObject) override;
    /// UI thread: deletes every row's record, then removes the rows.
    void DeleteAllPackets();
    /// Consumer thread: the consumer loop; returns when the engine releases its
    /// consumers or the view stops.
    void ConsumePackets();

    /// Looks up the host name of an IPv4 address (host order, first octet most
    /// significant). On success writes it, cut to size - 1 characters and
    /// terminated, into name and returns true.
    static bool ResolveAddress(win::DWORD address, char* name, int size = kNameSize);
    /// Resolver thread: one pass over the rows present when it starts, through the link.
    static void ResolveAllAddresses(ResolverLink& link);

    static win::DWORD ConsumerThreadProc(win::LPVOID param);
    /// param: a heap-allocated std::shared_ptr<ResolverLink>, which the thread deletes.
    static win::DWORD ResolverThreadProc(win::LPVOID param);

    /// Posted by the consumer to the view when the engine stopped the capture
    /// for lack of memory; the UI thread then has the document stop and tell.
    static constexpr win::UINT kMemoryStopMessage = win::WM_APP + 1;
    win::LRESULT WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override;

    /// Applies a display filter expression (empty: shows every row). On an
    /// invalid one returns false with libpcap's message and changes nothing.
    bool ApplyDisplayFilter(const std::string& expression, std::string& error);
    /// The display filter in force (empty when none).
    const PacketFilter& GetDisplayFilter() const { return m_displayFilter; }
    /// The texts of the selected rows, eight tab-separated cells a row, one
    /// row a line (empty when none is selected).
    std::string GetSelectedRowsText() const;
    /// Datagrams lost since the last Clear (the engine's count).
    unsigned long long GetLostSinceClear() const;

    void OnCaptureClear();
    void OnViewFollow();
    void OnUpdateViewFollow(win::CCmdUI* pCmdUI);
    void OnEditCopy();
    void OnUpdateEditCopy(win::CCmdUI* pCmdUI);
    void OnDisplayFilterApply();
    void OnUpdateIndicatorCaptured(win::CCmdUI* pCmdUI);
    void OnUpdateIndicatorShown(win::CCmdUI* pCmdUI);
    void OnUpdateIndicatorLost(win::CCmdUI* pCmdUI);
    void OnCaptureResolveAddresses();
    void OnUpdateCaptureResolveAddresses(win::CCmdUI* pCmdUI);
    void OnDblClick(win::NMHDR* pNMHDR, win::LRESULT* pResult);
    void OnClick(win::NMHDR* pNMHDR, win::LRESULT* pResult);

    const win::CommandTable* GetCommandTable() const override;

    /// The detail window.
    CPacketWnd m_wndPacket;
    /// The resolver thread started last (closed when replaced and at destruction, never waited on).
    win::HANDLE m_hResolverThread;
    /// The consumer thread (joined and closed in OnDestroy).
    win::HANDLE m_hConsumerThread;

protected:
    win::BOOL PreCreateWindow(win::CREATESTRUCT& cs) override;
    int OnCreate(win::LPCREATESTRUCT cs) override;
    void OnDestroy() override;
    win::BOOL OnPreparePrinting(win::CPrintInfo* pInfo) override;
    void OnBeginPrinting(win::CDC* pDC, win::CPrintInfo* pInfo) override;
    void OnEndPrinting(win::CDC* pDC, win::CPrintInfo* pInfo) override;

private:
    static const win::CommandEntry kCommands[];

    /// Decodes the record and appends its row; the row's index when the row
    /// took the record, else -1.
    int InsertPacketRow(Packet* packet);

    // Set by OnDestroy before the consumer is released: the consumer pops no
    // further record and ends.
    std::atomic<bool> m_bStopping;
    // Shared with every resolution pass; created at window creation.
    std::shared_ptr<ResolverLink> m_pResolverLink;
    // UI thread only: the display filter, and the engine's loss count at the last Clear.
    PacketFilter m_displayFilter;
    unsigned long long m_nLostAtClear = 0;
};
