// The display filter over a list of 1,000,000 rows with their records: the
// time from applying an expression to the list showing what passes (libpcap's
// matcher run on every record's datagram, the shown rows rebuilt, the view
// reset and painted), for expressions that pass about a third of the rows,
// almost all of them and none, and for clearing the filter. Also what one
// new row costs to match while a filter is on, against no filter.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "document/CCorvelDoc.h"
#include "framework/ListModel.h"
#include "framework/ListTableView.h"
#include "packet/IPPacket.h"
#include "ui/CCorvelView.h"

using namespace win;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Datagram i of a mixed stream: TCP to port 80, UDP to port 53, TCP to 443 in
// turn, 60 bytes each, from addresses that vary with i.
Packet* Mixed(int i) {
    auto* p = new IPPacket;
    BYTE* b = p->GetData();
    std::memset(b, 0, 60);
    const int kind = i % 3;
    b[0] = 0x45;
    b[3] = 60;
    b[9] = kind == 1 ? 17 : 6;
    b[12] = 10;
    b[14] = static_cast<BYTE>(i >> 8);
    b[15] = static_cast<BYTE>(i);
    b[16] = 192;
    b[17] = 168;
    b[19] = 1;
    b[20] = static_cast<BYTE>(0xC0 | ((i >> 8) & 0x3F));
    b[21] = static_cast<BYTE>(i);
    const int port = kind == 0 ? 80 : kind == 1 ? 53 : 443;
    b[22] = static_cast<BYTE>(port >> 8);
    b[23] = static_cast<BYTE>(port);
    if (kind != 1) {
        b[32] = 0x50;
        b[33] = 0x18;
    }
    p->SetReceived(60);
    return p;
}

struct Setup {
    explicit Setup(int rows) {
        frame.CreateEx(0, "BenchFrame", "Quorvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 600, nullptr, nullptr);
        doc = new CCorvelDoc;
        view = new CCorvelView;
        view->m_pDocument = doc;
        doc->AddView(view);
        view->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 880, 580), &frame,
                     AFX_IDW_PANE_FIRST);
        std::thread consumer([&] {
            for (int i = 0; i < rows; ++i) view->AddPacketRow(Mixed(i));
        });
        consumer.join();
        QApplication::processEvents();
    }
    ~Setup() {
        view->DestroyWindow();
        frame.DestroyWindow();
        delete doc;
    }
    CWnd frame;
    CCorvelDoc* doc = nullptr;
    CCorvelView* view = nullptr;
};

const char* const kExpressions[] = {"tcp port 80", "ip", "icmp", ""};

void BM_ApplyDisplayFilter(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const char* expression = kExpressions[state.range(1)];
    Setup s(rows);
    std::string error;
    for (auto _ : state) {
        // From a list showing every row.
        s.view->ApplyDisplayFilter("", error);
        QApplication::processEvents();
        const Clock::time_point start = Clock::now();
        if (!s.view->ApplyDisplayFilter(expression, error)) state.SkipWithError(error.c_str());
        s.view->GetListCtrl().GetTableView()->viewport()->repaint();
        state.SetIterationTime(Since(start));
    }
    state.SetLabel(*expression ? expression : "(clear)");
    state.counters["rows"] = rows;
    state.counters["shown"] = s.view->GetListCtrl().GetShownCount();
}
BENCHMARK(BM_ApplyDisplayFilter)
    ->ArgsProduct({{1000000}, {0, 1, 2, 3}})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// New rows while a filter is on: what the UI thread's publish of a frame of
// rows costs with each row matched, against the same without a filter.
void BM_PublishFilteredRows(benchmark::State& state) {
    const bool filtered = state.range(0) != 0;
    constexpr int kPerFrame = 1000;
    Setup s(100000);
    std::string error;
    s.view->ApplyDisplayFilter(filtered ? "tcp port 80" : "", error);
    ListModel* model = s.view->GetListCtrl().GetModel();
    int next = 100000;
    for (auto _ : state) {
        for (int i = 0; i < kPerFrame; ++i) s.view->AddPacketRow(Mixed(next++));
        const Clock::time_point start = Clock::now();
        model->Publish();
        state.SetIterationTime(Since(start));
    }
    state.counters["rows_per_frame"] = kPerFrame;
}
BENCHMARK(BM_PublishFilteredRows)->Arg(0)->Arg(1)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
