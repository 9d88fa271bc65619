// Reads a capture file into the document on a thread of its own, so that the
// window keeps answering while a big file opens. Each datagram becomes an
// IPPacket, as a received one does, and goes into the capture engine's queue
// (AppendLoaded); the list view's consumer thread takes it from there like a
// live record, so rows from a file and from a capture are built and published
// the same way. The reader waits while the queue holds kQueueLimit records,
// so that a fast disk does not pile up records the list has not taken yet.
//
// Progress: while it reads, the thread posts message (wParam: the tag, lParam:
// kProgress) to the notify window at most every kProgressInterval, and once
// kDone when it ends; the UI thread then calls Stop, which joins the thread,
// and reads the results.
//
// Threads and shutdown. The owner (the document, UI thread) creates, stops
// and destroys the loader. Stop sets the stop flag, which the thread reads
// between records and while it waits for room, and joins the thread; the
// thread never waits for the UI thread, so the join ends. The destructor stops.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "framework/WinUser.h"
#include "packet/CaptureFileReader.h"
#include "platform/WinKernel.h"

class CaptureEngine;

class CaptureFileLoader {
public:
    static constexpr win::LPARAM kProgress = 0;
    static constexpr win::LPARAM kDone = 1;
    static constexpr std::size_t kQueueLimit = 16384;
    static constexpr win::DWORD kProgressInterval = 100;  // milliseconds

    CaptureFileLoader(CaptureEngine& engine, std::unique_ptr<CaptureFileReader> reader, win::HWND notify,
                      win::UINT message, win::WPARAM tag);
    ~CaptureFileLoader();
    CaptureFileLoader(const CaptureFileLoader&) = delete;
    CaptureFileLoader& operator=(const CaptureFileLoader&) = delete;

    /// Starts the thread; false when it cannot.
    bool Start();
    /// Stops reading (if it still reads) and joins the thread. Idempotent.
    void Stop();
    bool IsRunning() const { return m_hThread != nullptr; }

    /// Any thread: the share of the file read, 0 to 100, and datagrams queued so far.
    int GetPercent() const;
    unsigned long long GetDatagramCount() const { return m_nDatagrams.load(); }

    // After Stop.
    unsigned long long GetSkippedCount() const { return m_nSkipped; }
    /// Reading ended at a damaged record (or cut-off end): GetError says why.
    bool IsDamaged() const { return m_bDamaged; }
    /// Reading was stopped before the end.
    bool WasStopped() const { return m_bStopped; }
    const std::string& GetError() const { return m_sError; }
    win::WPARAM GetTag() const { return m_tag; }

private:
    static win::DWORD ThreadProc(win::LPVOID param);
    void Run();
    /// Waits while the engine's queue is full; false when told to stop meanwhile.
    bool WaitForRoom();

    CaptureEngine& m_engine;
    std::unique_ptr<CaptureFileReader> m_pReader;
    win::HWND m_hNotify;
    win::UINT m_nMessage;
    win::WPARAM m_tag;
    win::HANDLE m_hThread = nullptr;
    std::atomic<bool> m_bStop{false};
    std::atomic<unsigned long long> m_nDatagrams{0};
    // Written by the thread, read after the join.
    unsigned long long m_nSkipped = 0;
    bool m_bDamaged = false;
    bool m_bStopped = false;
    std::string m_sError;
};
