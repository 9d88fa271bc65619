// The list view end to end: datagrams arriving from loopback at a fixed rate
// go through the engine and the view's consumer into the list, while clicks
// posted to the list every 50 ms measure how long the window takes to answer.
// Also how soon a row appears after its datagram, and the resident memory per
// row at 1,000,000 and 10,000,000 rows (records and rows) with its breakdown.
// The end-to-end run needs root (capture).
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "document/CCorvelDoc.h"
#include "framework/ListModel.h"
#include "framework/ListTableView.h"
#include "packet/ByteArena.h"
#include "packet/IPPacket.h"
#include "packet/PacketSlab.h"
#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "ui/CCorvelView.h"

using namespace win;
using Clock = std::chrono::steady_clock;

namespace {

struct Winsock {
    Winsock() { WSAStartup(0x0202, &data); }
    ~Winsock() { WSACleanup(); }
    WSADATA data{};
};

// The view with its click handler timed: the time at which the last click was handled.
class BenchView : public CCorvelView {
public:
    Clock::time_point m_lastClick{};
    int m_nClicks = 0;
    void OnTimedClick(NMHDR* header, LRESULT* result) {
        m_lastClick = Clock::now();
        ++m_nClicks;
        OnClick(header, result);
        // A click on a row stops following: the list goes on following, as
        // the rows the flood brings are what is measured.
        GetListCtrl().SetFollow(TRUE);
    }
    const CommandTable* GetCommandTable() const override {
        static const CommandEntry entries[] = {NotifyHandler(NM_CLICK, &BenchView::OnTimedClick)};
        static const CommandTable table{entries, CCorvelView::GetCommandTable()};
        return &table;
    }
};

// Document, frame and view as the template wires them.
struct Setup {
    Setup() {
        frame.CreateEx(0, "BenchFrame", "Quorvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 600, nullptr, nullptr);
        doc = new CCorvelDoc;
        view = new BenchView;
        view->m_pDocument = doc;
        doc->AddView(view);
        view->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 880, 580), &frame,
                     AFX_IDW_PANE_FIRST);
    }
    ~Setup() {
        if (view) view->DestroyWindow();
        frame.DestroyWindow();
        delete doc;
    }
    // Shows the view and starts capturing on 127.0.0.1; false (the benchmark
    // skipped with the reason) when the capture cannot start.
    bool StartCapture(benchmark::State& state) {
        view->OnInitialUpdate();
        doc->m_engine.m_sAdapter = "127.0.0.1";
        try {
            doc->m_engine.OpenCapture();
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return false;
        }
        return true;
    }
    CWnd frame;
    CCorvelDoc* doc = nullptr;
    BenchView* view = nullptr;
};

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// CPU time of the calling thread: what a step cost when other work shares the cores.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void PostClick(QWidget* viewport) {
    const QPointF at(20, 10);
    QCoreApplication::postEvent(viewport, new QMouseEvent(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at),
                                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(viewport, new QMouseEvent(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at),
                                                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

void BM_EndToEndRows(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    Winsock winsock;
    for (auto _ : state) {
        Setup s;
        if (!s.StartCapture(state)) return;
        testing::ResetTotalCaptureStatistics();
        bench::UdpSink sink;
        const unsigned short port = sink.Port();
        CListCtrl& list = s.view->GetListCtrl();
        QWidget* viewport = list.GetTableView()->viewport();

        std::atomic<bool> sent{false};
        double sendSeconds = 0;
        const Clock::time_point start = Clock::now();
        std::thread flood([&] {
            sendSeconds = bench::FloodLoopback(port, count, 64, rate);
            sent = true;
        });

        std::vector<double> latencies;
        std::size_t maxQueue = 0;
        int lastCount = 0;
        Clock::time_point lastChange = Clock::now();
        Clock::time_point clickPosted{};
        int clicksSeen = 0;
        bool clickPending = false;
        Clock::time_point nextClick = Clock::now();
        while (Since(start) < 60) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (clickPending && s.view->m_nClicks > clicksSeen) {
                latencies.push_back(std::chrono::duration<double>(s.view->m_lastClick - clickPosted).count());
                clicksSeen = s.view->m_nClicks;
                clickPending = false;
            }
            if (!clickPending && Clock::now() >= nextClick && !sent) {
                clickPosted = Clock::now();
                PostClick(viewport);
                clickPending = true;
                nextClick = clickPosted + std::chrono::milliseconds(50);
            }
            EnterCriticalSection(&s.doc->m_engine.m_csQueue);
            maxQueue = std::max(maxQueue, s.doc->m_engine.m_packets.size());
            LeaveCriticalSection(&s.doc->m_engine.m_csQueue);
            const int n = list.GetItemCount();
            if (n != lastCount) {
                lastCount = n;
                lastChange = Clock::now();
            }
            if (sent && Since(lastChange) > 0.5) break;
        }
        flood.join();
        const double rowSeconds = std::chrono::duration<double>(lastChange - start).count();
        s.doc->m_engine.CloseCapture();
        const testing::CaptureStatistics stats = testing::GetTotalCaptureStatistics();

        long ours = 0;
        const int rows = list.GetItemCount();
        for (int r = 0; r < rows; ++r) {
            auto* p = reinterpret_cast<Packet*>(list.GetItemData(r));
            if (p && p->GetProtocol(nullptr) == 17 && p->GetDestPort() == port) ++ours;
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["sent_per_s"] = count / sendSeconds;
        state.counters["rows_per_s"] = ours / rowSeconds;
        state.counters["rows"] = static_cast<double>(ours);
        state.counters["lost"] = static_cast<double>(count - ours);
        state.counters["kernel_drops"] = static_cast<double>(stats.kernelDrops);
        state.counters["max_queue"] = static_cast<double>(maxQueue);
        state.counters["clicks"] = static_cast<double>(latencies.size());
        state.counters["click_max_ms"] = latencies.empty() ? -1 : latencies.back() * 1000;
        state.counters["click_p50_ms"] = latencies.empty() ? -1 : latencies[latencies.size() / 2] * 1000;
        const auto destroyStart = Clock::now();
        s.view->DestroyWindow();
        s.view = nullptr;
        state.counters["destroy_ms"] = Since(destroyStart) * 1000;
    }
}
BENCHMARK(BM_EndToEndRows)
    ->ArgNames({"rate", "count"})
    ->Args({100000, 300000})
    ->Args({0, 300000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// How long after its datagram a row appears in the list (published to the
// model, painted in the same event-loop pass): marker datagrams sent every
// 50 ms from the UI thread while a background flood runs at range(0) per
// second (0: none). Needs root (capture).
void BM_RowLatency(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    Winsock winsock;
    for (auto _ : state) {
        Setup s;
        if (!s.StartCapture(state)) return;
        bench::UdpSink floodSink;
        bench::UdpSink markerSink;
        const std::string markerPort = std::to_string(markerSink.Port());
        CListCtrl& list = s.view->GetListCtrl();
        ListModel* model = list.GetModel();
        std::thread flood([&] {
            if (rate > 0) bench::FloodLoopback(floodSink.Port(), rate * 6, 64, rate);
        });
        std::vector<double> latencies;
        int markers = 0;
        int scanned = 0;
        bool waiting = false;
        Clock::time_point sent = Clock::now();
        const Clock::time_point start = Clock::now();
        while (Since(start) < 5.5 && markers < 100) {
            QApplication::processEvents(QEventLoop::AllEvents, 1);
            if (!waiting && Since(start) > 0.3 && Since(sent) > 0.05) {
                sent = Clock::now();
                bench::FloodLoopback(markerSink.Port(), 1, 16, 0);
                waiting = true;
                ++markers;
            }
            const int shown = model->rowCount();
            for (; scanned < shown; ++scanned) {
                if (waiting && list.GetItemText(scanned, 4) == markerPort) {
                    latencies.push_back(Since(sent));
                    waiting = false;
                }
            }
            if (waiting && Since(sent) > 1) waiting = false;  // lost: counted below
        }
        flood.join();
        s.doc->m_engine.CloseCapture();
        std::sort(latencies.begin(), latencies.end());
        state.counters["markers"] = markers;
        state.counters["seen"] = static_cast<double>(latencies.size());
        state.counters["p50_ms"] = latencies.empty() ? -1 : 1000 * latencies[latencies.size() / 2];
        state.counters["p95_ms"] = latencies.empty() ? -1 : 1000 * latencies[latencies.size() * 95 / 100];
        state.counters["max_ms"] = latencies.empty() ? -1 : 1000 * latencies.back();
    }
}
BENCHMARK(BM_RowLatency)->Arg(0)->Arg(10000)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 60-byte UDP datagram record, received and not yet decoded.
Packet* Synthetic(int i) {
    auto* p = new IPPacket;
    BYTE* b = p->GetData();
    std::memset(b, 0, 60);
    b[0] = 0x45;
    b[3] = 60;
    b[9] = 17;
    b[12] = 10;
    b[15] = static_cast<BYTE>(i);
    b[16] = 10;
    b[19] = static_cast<BYTE>(i >> 8);
    b[20] = static_cast<BYTE>(i >> 8);
    b[21] = static_cast<BYTE>(i);
    b[23] = 53;
    p->SetReceived(60);
    return p;
}

// Resident memory per row of the real view with its records, and where it
// goes: the records' slab, their bytes in the arena, the list's row entries,
// packed cells and recurring texts; the rest (Qt's view, the heap's own
// overhead, pages touched and not given back) is what the others leave.
void BM_MemoryPerRow(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Setup s;
        QApplication::processEvents();
        const long before = bench::ResidentBytes();
        const Clock::time_point start = Clock::now();
        // As the consumer thread does: records decoded and appended one by one.
        std::thread consumer([&] {
            for (int i = 0; i < count; ++i) s.view->AddPacketRow(Synthetic(i));
        });
        while (s.view->GetListCtrl().GetItemCount() < count) QApplication::processEvents(QEventLoop::AllEvents, 5);
        consumer.join();
        QApplication::processEvents();
        const double seconds = Since(start);
        const long after = bench::ResidentBytes();
        const double rows = count;
        const PackedRows::Usage list = s.view->GetListCtrl().GetModel()->Store()->GetUsage();
        const double records = static_cast<double>(IPPacket::GetSlab().GetRegionBytes());
        const double bytes = static_cast<double>(IPPacket::GetArena().GetRegionBytes());
        const double total = static_cast<double>(after - before);
        state.counters["rows"] = count;
        state.counters["rss_per_row_B"] = total / rows;
        state.counters["records_B"] = records / rows;
        state.counters["bytes_B"] = bytes / rows;
        state.counters["list_index_B"] = static_cast<double>(list.index) / rows;
        state.counters["list_cells_B"] = static_cast<double>(list.cells) / rows;
        state.counters["list_recurring_B"] = static_cast<double>(list.recurring) / rows;
        state.counters["other_B"] =
            (total - records - bytes - static_cast<double>(list.index + list.cells + list.recurring)) / rows;
        state.counters["append_rows_per_s"] = count / seconds;
        const auto clearStart = Clock::now();
        const double clearCpuStart = ThreadCpuSeconds();
        s.view->OnCaptureClear();
        state.counters["clear_ms"] = Since(clearStart) * 1000;
        state.counters["clear_cpu_ms"] = (ThreadCpuSeconds() - clearCpuStart) * 1000;
        state.counters["rss_after_clear_per_row_B"] = static_cast<double>(bench::ResidentBytes() - before) / rows;
    }
}
BENCHMARK(BM_MemoryPerRow)->Arg(1000000)->Arg(10000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
