// The capture document: the one document of the program. It owns the capture
// engine, chooses the adapter when it is created or renewed (the per-user
// default, else the adapter dialog), carries Start Capture, Stop Capture and
// Select Adapter with their enable rules, and the capture filter (an
// expression stored per user, compiled and handed to the engine at each
// Start), and hands the list view's consumer thread the packets the engine
// queues. While a capture runs the frame's caption names its adapter.
//
// Files. The rows are the document's data, though the view holds them: Save
// writes every row's datagram, in list order, to a pcapng file
// (CaptureFileWriter); Open reads pcap and pcapng (CaptureFileReader) on a
// loader thread (CaptureFileLoader) whose records take the live records' road
// through the engine's queue and the view's consumer. A row from a capture
// marks the document modified (NoteCapturedRow, consumer thread); saving,
// opening, New and Clear clear the mark. The document's views hold their rows
// in a CListView, whose item data are the records.
//
// Shutdown: a consumer thread works inside the engine (WaitForPacket,
// PopPacket, and the queue lock it takes directly). Before the document is
// deleted, every view that runs a consumer calls ReleaseConsumers and joins
// its thread; the framework destroys the views before it deletes the
// document, so a view does this from its OnDestroy.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "capture/CaptureEngine.h"
#include "framework/CDocument.h"
#include "framework/WinUser.h"

class CaptureFileLoader;
namespace win {
class CListCtrl;
}

class CSelectAdapter;
class Packet;

class CCorvelDoc : public win::CDocument {
public:
    CCorvelDoc();
    ~CCorvelDoc() override;

    static const win::CRuntimeClass classCCorvelDoc;
    const win::CRuntimeClass* GetRuntimeClass() const override { return &classCCorvelDoc; }

    /// Chooses the adapter: the stored default, else the adapter dialog. Always true.
    win::BOOL OnNewDocument() override;
    /// Storing: writes every row's datagram as pcapng. Loading reads nothing
    /// here: OnOpenDocument reads the file on the loader thread.
    void Serialize(win::CArchive& ar) override;
    /// Checks the file's header at once (`Couldn't open "PATH": REASON` and
    /// false when it is no capture file, the rows staying), then stops the
    /// capture, removes the rows and reads the file in the background.
    win::BOOL OnOpenDocument(win::LPCSTR pathName) override;
    /// Saves; the mark stays when rows were captured while it saved.
    win::BOOL OnSaveDocument(win::LPCSTR pathName) override;
    /// Stops reading a file, discards the queued records and has the views
    /// remove their rows (the hint kHintDeleteRows). The capture goes on.
    void DeleteContents() override;

    /// The hint with which DeleteContents asks the views to remove their rows.
    static constexpr win::LPARAM kHintDeleteRows = 0x51;
    /// The loader's message, posted to the first view, which hands it to OnLoadMessage.
    static constexpr win::UINT kLoadMessage = win::WM_APP + 2;
    /// UI thread: progress or end of reading a file (the loader's wParam and lParam).
    void OnLoadMessage(win::WPARAM tag, win::LPARAM what);
    /// UI thread: stops reading a file, keeping the records read; tells the
    /// status bar. Nothing when no file is read.
    void StopReading();
    bool IsReading() const;

    /// Consumer thread, with the row just added under the list's row lock:
    /// a captured (not loaded) row marks the document modified.
    void NoteCapturedRow();
    /// UI thread: Clear asks whether unsaved rows may go; false keeps them.
    /// Otherwise stops reading a file and clears the mark; the caller removes the rows.
    bool PrepareClear();

    void OnFileStopReading();
    void OnUpdateFileStopReading(win::CCmdUI* pCmdUI);

    /// Consumer thread: blocks until a packet is signalled (true) or the engine shuts down (false).
    bool WaitForPacket();
    /// Consumer thread, holding m_engine.m_csQueue over a non-empty queue: the
    /// oldest packet, now the caller's; *loaded says whether it came from a file.
    Packet* PopPacket(bool* loaded = nullptr);
    /// UI thread: makes every WaitForPacket return false from now on, also the ones
    /// blocked now, and returns once no consumer is inside WaitForPacket or PopPacket.
    /// The view calls it, then joins its consumer thread. Calling it again, or
    /// destroying the document afterwards, is harmless.
    void ReleaseConsumers();

    /// Consumer thread: true once after the engine stopped the capture for lack of memory.
    bool TakeMemoryStop();
    /// UI thread, after TakeMemoryStop: stops the capture as Stop Capture does
    /// and tells the user (kMemoryStopText). The rows stay.
    void OnCaptureMemoryStop();
    /// The text of that message box.
    /// A count as the status bar shows it: 1234567 as "1,234,567".
    static std::string GroupDigits(unsigned long long value);
    static constexpr const char* kMemoryStopText = "Capture stopped: not enough memory to keep more packets.";

    void OnCaptureStart();
    void OnUpdateCaptureStart(win::CCmdUI* pCmdUI);
    void OnCaptureStop();
    void OnUpdateCaptureStop(win::CCmdUI* pCmdUI);
    void OnCaptureSelectAdapter();
    /// Runs the capture filter dialog; the new expression applies from the next Start.
    void OnCaptureFilter();

    /// An adapter as a person recognises it: the address and, when known,
    /// the interface that owns it ("127.0.0.1 (lo)").
    std::string GetAdapterText(const std::string& address);
    /// The adapter of the capture that Start opened, as GetAdapterText gives
    /// it; empty while none runs. The main frame shows it in its caption.
    const std::string& GetCapturingOn() const { return m_sCapturingOn; }
    /// Why the system last ended a capture, as the status bar said it (empty
    /// while none has been ended that way).
    const std::string& GetCaptureEnded() const { return m_sCaptureEnded; }

    const win::CommandTable* GetCommandTable() const override;

    CaptureEngine m_engine;
    /// The capture filter expression (empty: keep everything); read from the
    /// setting at creation, replaced by the dialog, compiled at Start.
    std::string m_sCaptureFilter;

private:
    void FillAdapters(CSelectAdapter& dlg);
    void SetCapturingOn(const std::string& text);
    /// The system ended the capture (its interface or address went away, or
    /// the helper ended): the caption stops naming the adapter and the status
    /// bar says why.
    void NoteCaptureEnded();

    std::string m_sCapturingOn;
    std::string m_sCaptureEnded;
    static const win::CommandEntry kCommands[];

    /// The list of the first view that has one, else null.
    win::CListCtrl* FindList() const;
    /// Shows text in the main frame's status bar.
    static void SetStatusText(const std::string& text);
    /// UI thread: joins the loader and reports how reading ended.
    void FinishReading();

    // The loader reading a file, if any; owned and stopped by the UI thread.
    std::unique_ptr<CaptureFileLoader> m_pLoader;
    win::WPARAM m_nLoadTag = 0;
    std::string m_sLoadPath;
    // Rows captured so far (consumer thread); Save compares it before and after.
    std::atomic<unsigned long long> m_nCapturedRows{0};
    unsigned long long m_nSavedRows = 0;
    // Whether the rows came from a file opened (no interface of ours to name).
    bool m_bLoaded = false;
};
