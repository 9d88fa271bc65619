// The capture document: the one document of the program. It owns the capture
// engine, chooses the adapter when it is created or renewed (the per-user
// default, else the adapter dialog), carries Start Capture, Stop Capture and
// Select Adapter with their enable rules, and hands the list view's consumer
// thread the packets the engine queues. It keeps no data of its own: Save
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

    const win::CommandTable* GetCommandTable() const override;

    CaptureEngine m_engine;

private:
    static const win::CommandEntry kCommands[];
};
