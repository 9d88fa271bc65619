// The list control under a worker thread that appends rows the way the packet
// view does (count, insert with the timestamp, seven text cells through one
// buffer, item data, scroll to the new row) while the UI thread runs its event
// loop with the window shown: rows per second, resident memory per row at
// 1,000,000 rows, and how long an event posted to the UI thread waits while
// the worker floods. Also one large text insertion into the rich edit control,
// as the detail window makes for the biggest datagram. And the cost of one
// frame's publish and of answering a click at 1,000, 1,000,000 and 10,000,000
// rows.
#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/CListCtrl.h"
#include "framework/CRichEditCtrl.h"
#include "framework/ListModel.h"
#include "framework/ListTableView.h"

using namespace win;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A shown top-level window holding a list with the packet view's columns and styles.
struct ListWindow {
    ListWindow() {
        frame.CreateEx(0, "BenchFrame", "Quorvane", WS_OVERLAPPEDWINDOW, 0, 0, 900, 600, nullptr, nullptr);
        list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 880, 580), &frame, 1);
        list.ModifyStyle(0, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS);
        list.SetExtendedStyle(LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_TWOCLICKACTIVATE);
        const char* headers[] = {"Timestamp", "Source Address", "Source Port", "Dest. Address",
                                 "Dest. Port", "Type", "Size", "Info"};
        for (int c = 0; c < 8; ++c) {
            list.InsertColumn(c, headers[c], (c == 2 || c == 4 || c == 6) ? LVCFMT_RIGHT : LVCFMT_LEFT, 100);
        }
        frame.ShowWindow(SW_SHOW);
        QApplication::processEvents();
    }
    ~ListWindow() {
        list.DeleteAllItems();
        frame.DestroyWindow();
        QApplication::processEvents();
    }
    // Runs the event loop until the model shows every row the store holds.
    void CatchUp() {
        while (list.GetModel()->rowCount() < list.GetItemCount()) QApplication::processEvents();
    }
    CWnd frame;
    CListCtrl list;
};

// One row as the view appends it; cell texts of the lengths a datagram gives.
bool AppendRow(CListCtrl& list, int seq, char* text) {
    const int n = list.GetItemCount();
    std::snprintf(text, 256, "%02d:%02d:%02d:%03d", (seq / 3600000) % 24, (seq / 60000) % 60, (seq / 1000) % 60,
                  seq % 1000);
    LVITEM item{};
    item.mask = LVIF_TEXT;
    item.iItem = n;
    item.pszText = text;
    const int row = list.InsertItem(&item);
    if (row < 0) return false;
    for (int column = 1; column < 8; ++column) {
        switch (column) {
        case 1: std::snprintf(text, 256, "192.168.%d.%d", (seq >> 8) & 0xFF, seq & 0xFF); break;
        case 2: std::snprintf(text, 256, "%u", 1024u + seq % 60000u); break;
        case 3: std::snprintf(text, 256, "10.%d.%d.%d", (seq >> 16) & 0xFF, (seq >> 8) & 0xFF, seq & 0xFF); break;
        case 4: std::snprintf(text, 256, "%u", 80u); break;
        case 5: std::snprintf(text, 256, "%s", (seq & 1) ? "TCP" : "UDP"); break;
        case 6: std::snprintf(text, 256, "%d", 40 + seq % 1460); break;
        case 7: std::snprintf(text, 256, "%s", (seq & 1) ? "flags: ACK PSH" : ""); break;
        }
        LVITEM cell{};
        cell.mask = LVIF_TEXT;
        cell.iItem = row;
        cell.iSubItem = column;
        cell.pszText = text;
        list.SetItem(&cell);
    }
    LVITEM data{};
    data.mask = LVIF_PARAM;
    data.iItem = row;
    data.lParam = static_cast<LPARAM>(0x7f0000000000LL + 1600LL * seq);  // a record address
    list.SetItem(&data);
    list.EnsureVisible(row, FALSE);
    return true;
}

// Appends count rows from a worker thread while this (the UI) thread runs the
// event loop; returns the worker's seconds. The loop ends when the worker is done.
double FloodFromWorker(CListCtrl& list, int count) {
    QEventLoop loop;
    double seconds = 0;
    std::thread worker([&] {
        char text[256];
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < count; ++i) AppendRow(list, i, text);
        seconds = Since(start);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return seconds;
}

// Rows per second from the worker, timed until the display holds them all.
void BM_AppendRowsFromWorker(benchmark::State& state) {
    ListWindow w;
    const int rows = static_cast<int>(state.range(0));
    double workerSeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        workerSeconds += FloodFromWorker(w.list, rows);
        w.CatchUp();
        state.SetIterationTime(Since(start));
        if (w.list.GetItemCount() != rows) state.SkipWithError("rows lost");
        w.list.DeleteAllItems();
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["worker_rows_per_s"] = static_cast<double>(rows) * state.iterations() / workerSeconds;
}

// Resident memory per row with 1,000,000 rows in a fresh control (the store,
// the model and the view's share), and the rate at that size.
void BM_MemoryPerRow(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ListWindow w;
        malloc_trim(0);
        const long before = bench::ResidentBytes();
        const Clock::time_point start = Clock::now();
        const double workerSeconds = FloodFromWorker(w.list, rows);
        w.CatchUp();
        state.SetIterationTime(Since(start));
        const long after = bench::ResidentBytes();
        state.counters["bytes_per_row"] = static_cast<double>(after - before) / rows;
        state.counters["worker_rows_per_s"] = rows / workerSeconds;
        if (w.list.GetItemCount() != rows) state.SkipWithError("rows lost");
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

// An event whose handling time the receiver records against its posting time.
class ProbeEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const int kind = QEvent::registerEventType();
        return static_cast<QEvent::Type>(kind);
    }
    ProbeEvent() : QEvent(Kind()), posted(Clock::now()) {}
    Clock::time_point posted;
};

class ProbeReceiver : public QObject {
public:
    double sum = 0, worst = 0;
    int count = 0;
    std::atomic<int> handled{0};
    bool event(QEvent* e) override {
        if (e->type() != ProbeEvent::Kind()) return QObject::event(e);
        const double latency = Since(static_cast<ProbeEvent*>(e)->posted);
        sum += latency;
        worst = std::max(worst, latency);
        ++count;
        ++handled;
        return true;
    }
};

// A thread that posts an event to the UI thread every millisecond, waiting for
// each to be handled before the next, until Stop.
class Prober {
public:
    explicit Prober(ProbeReceiver& receiver)
        : m_thread([this, &receiver] {
              while (m_running) {
                  const int seen = receiver.handled;
                  QCoreApplication::postEvent(&receiver, new ProbeEvent);
                  while (m_running && receiver.handled == seen) std::this_thread::yield();
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    void Stop() {
        m_running = false;
        m_thread.join();
        QApplication::processEvents();  // the last probe, if still queued
    }

private:
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

void ReportLatency(benchmark::State& state, const ProbeReceiver& receiver) {
    state.counters["latency_avg_ms"] = receiver.count ? 1000 * receiver.sum / receiver.count : 0;
    state.counters["latency_worst_ms"] = 1000 * receiver.worst;
    state.counters["probes"] = receiver.count;
}

// Posted events while the worker appends rows to a shown list.
void BM_PostedEventLatencyDuringFlood(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    ProbeReceiver receiver;
    for (auto _ : state) {
        ListWindow w;
        Prober prober(receiver);
        const Clock::time_point start = Clock::now();
        FloodFromWorker(w.list, rows);
        w.CatchUp();
        state.SetIterationTime(Since(start));
        prober.Stop();
    }
    ReportLatency(state, receiver);
    state.SetItemsProcessed(state.iterations() * rows);
}

// The same probes for one second with the list shown and no worker: what the
// machine itself adds.
void BM_PostedEventLatencyIdle(benchmark::State& state) {
    ProbeReceiver receiver;
    for (auto _ : state) {
        ListWindow w;
        Prober prober(receiver);
        const Clock::time_point start = Clock::now();
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        state.SetIterationTime(Since(start));
        prober.Stop();
    }
    ReportLatency(state, receiver);
}

// The list holding range(0) rows, shown, scrolled to the newest row. One
// frame at a paced rate: range(1) rows appended (as the view appends them),
// then the publish and the paint that follows (publish_ms); and the answer
// to a click on a row in view, handled and painted (click_ms). Medians.
void BM_PublishAtSize(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int perFrame = static_cast<int>(state.range(1));
    ListWindow w;
    char text[256];
    for (int i = 0; i < rows; ++i) AppendRow(w.list, i, text);
    w.list.GetModel()->Publish();
    QApplication::processEvents();
    ListTableView* view = w.list.GetTableView();
    std::vector<double> publish;
    std::vector<double> click;
    int seq = rows;
    for (auto _ : state) {
        for (int i = 0; i < perFrame; ++i) AppendRow(w.list, seq++, text);
        Clock::time_point start = Clock::now();
        w.list.GetModel()->Publish();
        QApplication::processEvents();
        publish.push_back(Since(start));

        const QPoint at = view->visualRect(w.list.GetModel()->index(view->rowAt(view->viewport()->height() / 2), 1))
                              .center();
        start = Clock::now();
        QMouseEvent press(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &release);
        QApplication::processEvents();
        click.push_back(Since(start));
        // A click on a row stops following; the next frame is measured as
        // one of a list that follows its newest row, as before the click.
        w.list.SetFollow(TRUE);
        QApplication::processEvents();
        state.SetIterationTime(publish.back());
    }
    std::sort(publish.begin(), publish.end());
    std::sort(click.begin(), click.end());
    state.counters["rows"] = w.list.GetItemCount();
    state.counters["publish_ms"] = 1000 * publish[publish.size() / 2];
    state.counters["publish_max_ms"] = 1000 * publish.back();
    state.counters["click_ms"] = 1000 * click[click.size() / 2];
    state.counters["click_max_ms"] = 1000 * click.back();
    state.counters["rss_MB"] = bench::ResidentBytes() / 1e6;
}

// About 320,000 characters of hex dump lines ending in "\r\n".
std::string DumpText() {
    std::string text;
    char line[96];
    for (int offset = 0; text.size() < 320000; offset += 16) {
        int n = std::snprintf(line, sizeof line, "%04X  ", offset);
        for (int i = 0; i < 16; ++i) n += std::snprintf(line + n, sizeof line - n, "%02X ", (offset + i) & 0xFF);
        std::snprintf(line + n, sizeof line - n, " ................\r\n");
        text += line;
    }
    return text;
}

// One ReplaceSel of the whole dump into a shown, read-only rich edit control
// (cleared first, untimed); the layout counter adds the time until the document
// is laid out completely.
void BM_RichEditReplaceSel320k(benchmark::State& state) {
    const std::string text = DumpText();
    CWnd frame;
    frame.CreateEx(0, "BenchFrame", "Packet", WS_OVERLAPPEDWINDOW, 0, 0, 800, 480, nullptr, nullptr);
    CRichEditCtrl edit;
    edit.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL, CRect(0, 0, 780, 460), &frame, 1);
    edit.SetReadOnly(TRUE);
    CHARFORMAT cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_PROTECTED | CFM_OFFSET | CFM_COLOR |
                CFM_SIZE | CFM_FACE;
    cf.dwEffects = CFE_AUTOCOLOR;
    cf.yHeight = 200;
    std::snprintf(cf.szFaceName, sizeof cf.szFaceName, "Courier");
    edit.SetDefaultCharFormat(cf);
    frame.ShowWindow(SW_SHOW);
    QApplication::processEvents();
    double layoutSeconds = 0;
    for (auto _ : state) {
        edit.ExSetSel(CHARRANGE{0, -1});
        edit.Clear();
        QApplication::processEvents();
        const Clock::time_point start = Clock::now();
        edit.ReplaceSel(text.c_str(), FALSE);
        state.SetIterationTime(Since(start));
        benchmark::DoNotOptimize(edit.GetDocument()->documentLayout()->documentSize());
        QApplication::processEvents();
        layoutSeconds += Since(start);
        if (edit.GetTextLength() <= 0) state.SkipWithError("nothing inserted");
    }
    state.counters["chars"] = static_cast<double>(text.size());
    state.counters["with_layout_ms"] = 1000 * layoutSeconds / state.iterations();
    frame.DestroyWindow();
}

}  // namespace

BENCHMARK(BM_MemoryPerRow)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendRowsFromWorker)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostedEventLatencyDuringFlood)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostedEventLatencyIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PublishAtSize)
    ->ArgNames({"rows", "per_frame"})
    ->Args({1000, 1})
    ->Args({1000000, 1})
    ->Args({10000000, 1})
    ->Args({1000, 400})
    ->Args({1000000, 400})
    ->Args({10000000, 400})
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RichEditReplaceSel320k)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
