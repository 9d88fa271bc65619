// The detail window's dump: building the text alone, and a whole refresh of
// the window (header pieces, the dump, its insertion into the rich-text
// control, the paint) for 1,500 and 65,535 bytes on the offscreen platform,
// or on the display QT_QPA_PLATFORM names.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <string>

#include "framework/WinUser.h"
#include "packet/IPPacket.h"
#include "ui/CPacketWnd.h"
#include "ui/PacketDump.h"

using namespace win;

namespace {

// A received UDP datagram of the given size.
IPPacket* Datagram(int size) {
    auto* p = new IPPacket;
    BYTE* b = p->GetData();
    for (int i = 0; i < size; ++i) b[i] = static_cast<BYTE>(i * 7);
    b[0] = 0x45;
    b[2] = static_cast<BYTE>(size >> 8);
    b[3] = static_cast<BYTE>(size);
    b[9] = 17;
    p->SetReceived(size);
    p->Decode();
    return p;
}

void BM_DumpText(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::string bytes(static_cast<std::size_t>(count), '\0');
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * 7);
    std::string text;
    for (auto _ : state) {
        PacketDump::Build(reinterpret_cast<const BYTE*>(bytes.data()), count, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["chars"] = static_cast<double>(text.size());
    state.SetBytesProcessed(state.iterations() * count);
}
BENCHMARK(BM_DumpText)->Arg(40)->Arg(1500)->Arg(65535)->Unit(benchmark::kMicrosecond);

// A whole refresh of a shown window and the paint that follows it.
void BM_Refresh(benchmark::State& state) {
    IPPacket* packet = Datagram(static_cast<int>(state.range(0)));
    CPacketWnd wnd;
    wnd.m_pPacket = packet;
    const CRect rect(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
    wnd.CreateEx(0, AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW)), "Packet", 0x10CF0000, rect, nullptr, 0);
    for (auto _ : state) {
        wnd.Refresh();
        QApplication::processEvents();
    }
    state.counters["chars"] = static_cast<double>(wnd.m_wndText.GetTextLength());
    wnd.DestroyWindow();
    delete packet;
}
BENCHMARK(BM_Refresh)->Arg(1500)->Arg(65535)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
