// Capture files: opening a file of 1,000,000 and 10,000,000 datagrams into
// the real document and list view (time until every row is in, resident
// memory per row, and how long the window takes to answer clicks posted
// every 50 ms while it reads), tcpdump reading the same file in the same run
// (`tcpdump -r FILE -w /dev/null`), and saving all those rows again.
// The files are written with the program's own writer into QV_BENCH_DIR
// (default /tmp) and removed afterwards, unless QV_BENCH_KEEP is set (to
// measure other readers on them).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "document/CCorvelDoc.h"
#include "framework/ListTableView.h"
#include "packet/CaptureFileWriter.h"
#include "ui/CCorvelView.h"

using namespace win;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string Folder() {
    const char* dir = std::getenv("QV_BENCH_DIR");
    return dir ? dir : "/tmp";
}

// count 60-byte UDP datagrams, 10 us apart, as the program saves them.
std::string MakeFile(int count) {
    const std::string path = Folder() + "/qv-file-bench-" + std::to_string(count) + ".pcapng";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return {};
    CaptureFileWriter writer(file);
    writer.WriteHeader("Quorvane", "127.0.0.1");
    BYTE d[60] = {0x45, 0, 0, 60, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2, 0x30, 0x39, 0, 53, 0, 40};
    const ULONGLONG start = (1700000000ULL + 11644473600ULL) * 10000000ULL;
    for (int i = 0; i < count; ++i) {
        d[15] = static_cast<BYTE>(i);
        d[19] = static_cast<BYTE>(i >> 8);
        d[21] = static_cast<BYTE>(i);
        writer.WriteDatagram(d, sizeof d, start + static_cast<ULONGLONG>(i) * 100);
    }
    writer.Finish();
    std::fclose(file);
    return path;
}

// The view with its click handler timed.
class BenchView : public CCorvelView {
public:
    Clock::time_point m_lastClick{};
    int m_nClicks = 0;
    void OnTimedClick(NMHDR* header, LRESULT* result) {
        m_lastClick = Clock::now();
        ++m_nClicks;
        OnClick(header, result);
    }
    const CommandTable* GetCommandTable() const override {
        static const CommandEntry entries[] = {NotifyHandler(NM_CLICK, &BenchView::OnTimedClick)};
        static const CommandTable table{entries, CCorvelView::GetCommandTable()};
        return &table;
    }
};

struct Setup {
    Setup() {
        frame.CreateEx(0, "BenchFrame", "Quorvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 600, nullptr, nullptr);
        doc = new CCorvelDoc;
        view = new BenchView;
        view->m_pDocument = doc;
        doc->AddView(view);
        view->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 880, 580), &frame,
                     AFX_IDW_PANE_FIRST);
        view->OnInitialUpdate();
    }
    ~Setup() {
        if (view) view->DestroyWindow();
        frame.DestroyWindow();
        delete doc;
    }
    CWnd frame;
    CCorvelDoc* doc = nullptr;
    BenchView* view = nullptr;
};

void PostClick(QWidget* viewport) {
    const QPointF at(20, 10);
    QCoreApplication::postEvent(viewport, new QMouseEvent(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at),
                                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(viewport, new QMouseEvent(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at),
                                                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * static_cast<std::size_t>(percent) / 100)];
}

void BM_OpenAndSave(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string path = MakeFile(count);
    if (path.empty()) {
        state.SkipWithError("cannot write the file");
        return;
    }
    for (auto _ : state) {
        // The peer first, on the same file and the same machine load.
        const auto tcpdumpStart = Clock::now();
        const int status = std::system(("tcpdump -r '" + path + "' -w /dev/null 2>/dev/null").c_str());
        state.counters["tcpdump_s"] = status == 0 ? Since(tcpdumpStart) : -1;

        Setup s;
        QApplication::processEvents();
        const long before = bench::ResidentBytes();
        CListCtrl& list = s.view->GetListCtrl();
        QWidget* viewport = list.GetTableView()->viewport();
        const Clock::time_point start = Clock::now();
        if (!s.doc->OnOpenDocument(path.c_str())) {
            state.SkipWithError("Open failed");
            return;
        }
        std::vector<double> latencies;
        bool pending = false;
        int seen = 0;
        Clock::time_point posted{};
        long peak = 0;
        while (Since(start) < 600) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (pending && s.view->m_nClicks > seen) {
                latencies.push_back(std::chrono::duration<double>(s.view->m_lastClick - posted).count());
                seen = s.view->m_nClicks;
                pending = false;
            }
            if (!pending && Since(posted) >= 0.05) {
                posted = Clock::now();
                PostClick(viewport);
                pending = true;
            }
            if (latencies.size() % 20 == 0) peak = std::max(peak, bench::ResidentBytes());
            if (!s.doc->IsReading() && list.GetItemCount() >= count) break;
        }
        const double openSeconds = Since(start);
        const long after = bench::ResidentBytes();
        peak = std::max(peak, after);
        state.counters["rows"] = list.GetItemCount();
        state.counters["open_s"] = openSeconds;
        state.counters["rows_per_s"] = list.GetItemCount() / openSeconds;
        state.counters["rss_per_row_B"] = static_cast<double>(after - before) / count;
        state.counters["peak_rss_per_row_B"] = static_cast<double>(peak - before) / count;
        state.counters["clicks"] = static_cast<double>(latencies.size());
        state.counters["click_p50_ms"] = Percentile(latencies, 50) * 1000;
        state.counters["click_p95_ms"] = Percentile(latencies, 95) * 1000;
        state.counters["click_max_ms"] = Percentile(latencies, 100) * 1000;

        const std::string saved = Folder() + "/qv-file-bench-saved.pcapng";
        const auto saveStart = Clock::now();
        const bool ok = s.doc->OnSaveDocument(saved.c_str());
        state.counters["save_s"] = ok ? Since(saveStart) : -1;
        std::remove(saved.c_str());
    }
    if (!std::getenv("QV_BENCH_KEEP")) std::remove(path.c_str());
}
BENCHMARK(BM_OpenAndSave)->Arg(1000000)->Arg(10000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
