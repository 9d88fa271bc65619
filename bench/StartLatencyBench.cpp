// Time from Start (OpenCapture) to the first record taken from the engine,
// through the capture helper (the only way to capture), while a bounded
// loopback sender keeps one datagram in flight every millisecond: what a
// person waits for between Start and the first row. Needs root; run with
//   bench/StartLatencyBench --benchmark_repetitions=20
// and read the medians. Also the socket() call alone (starting the helper).
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

namespace {

struct Winsock {
    Winsock() { WSAStartup(0x0202, &data); }
    ~Winsock() { WSACleanup(); }
    WSADATA data{};
};

void BM_StartToFirstRecord(benchmark::State& state) {
    Winsock winsock;
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
}
BENCHMARK(BM_StartToFirstRecord)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_SocketCall(benchmark::State& state) {
    Winsock winsock;
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
}
// Only socket() is timed: closing ends and reaps the helper, whose packet
// socket waits for a network grace period (synchronize_net); hence also few
// iterations.
BENCHMARK(BM_SocketCall)->Iterations(20)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
