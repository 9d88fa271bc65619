// The loader's thread: read, make records, queue them in batches.
#include "document/CaptureFileLoader.h"

#include <chrono>
#include <cstring>
#include <new>

#include "capture/CaptureEngine.h"
#include "packet/IPPacket.h"

using namespace win;

namespace {
// Records queued under one hold of the queue lock and one signal.
constexpr int kBatch = 256;
}  // namespace

CaptureFileLoader::CaptureFileLoader(CaptureEngine& engine, std::unique_ptr<CaptureFileReader> reader, HWND notify,
                                     UINT message, WPARAM tag)
    : m_engine(engine), m_pReader(std::move(reader)), m_hNotify(notify), m_nMessage(message), m_tag(tag) {}

CaptureFileLoader::~CaptureFileLoader() { Stop(); }

bool CaptureFileLoader::Start() {
    if (m_hThread) return true;
    m_hThread = CreateThread(nullptr, 0, &CaptureFileLoader::ThreadProc, this, 0, nullptr);
    return m_hThread != nullptr;
}

void CaptureFileLoader::Stop() {
    if (!m_hThread) return;
    m_bStop.store(true);
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

int CaptureFileLoader::GetPercent() const {
    const long long size = m_pReader->GetFileSize();
    if (size <= 0) return 100;
    const long long position = m_pReader->GetPosition();
    return static_cast<int>(position >= size ? 100 : position * 100 / size);
}

DWORD CaptureFileLoader::ThreadProc(LPVOID param) {
    static_cast<CaptureFileLoader*>(param)->Run();
    return 0;
}

bool CaptureFileLoader::WaitForRoom() {
    while (m_engine.GetQueuedCount() >= kQueueLimit) {
        if (m_bStop.load()) return false;
        Sleep(1);
    }
    return !m_bStop.load();
}

void CaptureFileLoader::Run() {
    Packet* batch[kBatch];
    int count = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    const auto flush = [&]() {
        if (count == 0) return;
        try {
            m_engine.AppendLoaded(batch, count);
        } catch (const std::bad_alloc&) {
            // The engine deleted the batch.
            m_bDamaged = true;
            m_sError = "not enough memory";
        }
        m_nDatagrams.fetch_add(static_cast<unsigned long long>(count));
        count = 0;
    };

    CaptureFileReader::Datagram datagram;
    for (;;) {
        if (m_bStop.load()) {
            m_bStopped = true;
            break;
        }
        const CaptureFileReader::Result result = m_pReader->ReadNext(datagram);
        if (result == CaptureFileReader::kEnd) break;
        if (result == CaptureFileReader::kDamaged) {
            m_bDamaged = true;
            m_sError = m_pReader->GetError();
            break;
        }
        IPPacket* packet = nullptr;
        try {
            packet = new IPPacket(IPPacket::ArrivalSetLater{});
            std::memcpy(packet->GetData(), datagram.bytes, static_cast<std::size_t>(datagram.length));
            packet->SetReceived(datagram.length);
        } catch (const std::bad_alloc&) {
            delete packet;
            m_bDamaged = true;
            m_sError = "not enough memory";
            break;
        }
        packet->SetArrivalTime(datagram.fileTime);
        batch[count++] = packet;
        if (count == kBatch) {
            if (!WaitForRoom()) {
                // Stopped while waiting: what was read is kept, as Escape promises.
                flush();
                m_bStopped = true;
                break;
            }
            flush();
            if (m_bDamaged) break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgress >= std::chrono::milliseconds(kProgressInterval)) {
            lastProgress = now;
            PostMessage(m_hNotify, m_nMessage, m_tag, kProgress);
        }
    }
    flush();
    m_nSkipped = m_pReader->GetSkippedCount();
    m_pReader->Close();
    PostMessage(m_hNotify, m_nMessage, m_tag, kDone);
}
