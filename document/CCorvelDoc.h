// The capture document: the one document of the program. It owns the capture
// engine, chooses the adapter when it is created or renewed (the per-user
// default, else the adapter dialog), carries Start Capture, Stop Capture and
// Select Adapter with their enable rules, and the capture filter (an
// expression stored per user, compiled and handed to the engine at each
// Start), and hands the list view's consumer thread the packets the engine
// queues. While a capture runs the frame's caption names its adapter. It keeps no data of its own: Save
// writes an empty file and Open reads nothing.
//
// Shutdown: a consumer thread works inside the engine (WaitForPacket,
// PopPacket, and the queue lock it takes directly). Before the document is
// deleted, every view that runs a consumer calls ReleaseConsumers and joins
// its thread; the framework destroys the views before it deletes the
// document, so a view does this from its OnDestroy.
#pragma once

#include "capture/CaptureEngine.h"
#include "framework/CDocument.h"

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
    /// Writes and reads nothing.
    void Serialize(win::CArchive& ar) override;

    /// Consumer thread: blocks until a packet is signalled (true) or the engine shuts down (false).
    bool WaitForPacket();
    /// Consumer thread, holding m_engine.m_csQueue over a non-empty queue: the oldest packet, now the caller's.
    Packet* PopPacket();
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

    const win::CommandTable* GetCommandTable() const override;

    CaptureEngine m_engine;
    /// The capture filter expression (empty: keep everything); read from the
    /// setting at creation, replaced by the dialog, compiled at Start.
    std::string m_sCaptureFilter;

private:
    void FillAdapters(CSelectAdapter& dlg);
    void SetCapturingOn(const std::string& text);

    std::string m_sCapturingOn;
    static const win::CommandEntry kCommands[];
};
