// Time from Start (OpenCapture) to the first record taken from the engine,
// with the packet socket created directly (the process holds CAP_NET_RAW)
// against one handed over by the capture-socket helper, while a bounded
// loopback sender keeps one datagram in flight every millisecond. The two
// differ only in how the socket is made, which is what a person waits for
// between Start and the first row. Needs root; run with
//   bench/StartLatencyBench --benchmark_repetitions=20
// and read the medians. Also the socket() call alone, both ways.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bench/BenchSupport.h"
#include "capture/CaptureEngine.h"
#include "packet/IPPacket.h"
#include "platform/TestHooks.h"
#include "platform/WinSock.h"

using namespace win;
using win::testing::PacketSocketSource;

namespace {

struct Winsock {
    Winsock() { WSAStartup(0x0202, &data); }
    ~Winsock() { WSACleanup(); }
    WSADATA data{};
};

PacketSocketSource SourceOf(const benchmark::State& state) {
    return state.range(0) == 0 ? PacketSocketSource::Direct : PacketSocketSource::Helper;
}

void BM_StartToFirstRecord(benchmark::State& state) {
    Winsock winsock;
    win::testing::SetPacketSocketSource(SourceOf(state));
    bench::UdpSink sink;
    for (auto _ : state) {
        std::atomic<bool> stop(false);
        // At most 2000 datagrams (2 s) per measurement, one per millisecond.
        std::thread sender([&] {
            for (int i = 0; i < 2000 && !stop.load(); ++i) {
                bench::FloodLoopback(sink.Port(), 1, 32, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        CaptureEngine engine;
        engine.m_sAdapter = "127.0.0.1";
        auto start = std::chrono::steady_clock::now();
        engine.OpenCapture();
        Packet* first = nullptr;
        while (first == nullptr) {
            EnterCriticalSection(&engine.m_csQueue);
            if (!engine.m_packets.empty()) first = engine.PopPacket();
            LeaveCriticalSection(&engine.m_csQueue);
            if (first == nullptr && !engine.WaitForPacket()) break;
        }
        auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        delete first;
        stop = true;
        sender.join();
        engine.CloseCapture();
        engine.ReleaseConsumers();
    }
    win::testing::SetPacketSocketSource(PacketSocketSource::Automatic);
}
BENCHMARK(BM_StartToFirstRecord)->ArgName("helper")->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_SocketCall(benchmark::State& state) {
    Winsock winsock;
    win::testing::SetPacketSocketSource(SourceOf(state));
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (s == INVALID_SOCKET) {
            state.SkipWithError("socket failed (needs root)");
            break;
        }
        closesocket(s);
    }
    win::testing::SetPacketSocketSource(PacketSocketSource::Automatic);
}
// Only socket() is timed: closing a packet socket waits for a network grace
// period (synchronize_net), which would swamp it; hence also few iterations.
BENCHMARK(BM_SocketCall)->ArgName("helper")->Arg(0)->Arg(1)->Iterations(20)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
