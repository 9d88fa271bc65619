// Capture throughput of the engine against tcpdump on the same bounded UDP
// flood on loopback, and resident memory per queued record. Needs root.
// tcpdump's "packets captured" counts each loopback datagram once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "bench/BenchSupport.h"
#include "capture/CaptureEngine.h"
#include "packet/IPPacket.h"
#include "platform/WinSock.h"

using namespace win;

namespace {

constexpr int kFloodCount = 300000;

struct Winsock {
    Winsock() { WSAStartup(0x0202, &data); }
    ~Winsock() { WSACleanup(); }
    WSADATA data{};
};

// Consumer protocol; decodes each record, counts those of the flood, drops them.
void Consume(CaptureEngine& engine, unsigned short port, std::atomic<long>& ours)
{
    for (;;) {
        EnterCriticalSection(&engine.m_csQueue);
        if (!engine.m_packets.empty()) {
            Packet* packet = engine.PopPacket();
            LeaveCriticalSection(&engine.m_csQueue);
            packet->Decode();
            if (packet->GetProtocol(nullptr) == 17 && packet->GetDestPort() == port) {
                ours.fetch_add(1, std::memory_order_relaxed);
            }
            delete packet;
            continue;
        }
        LeaveCriticalSection(&engine.m_csQueue);
        if (!engine.WaitForPacket()) {
            return;
        }
    }
}

void WaitUntilStable(const std::atomic<long>& count)
{
    long last = -1;
    while (count.load() != last) {
        last = count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void BM_CaptureFlood(benchmark::State& state)
{
    const int payload = static_cast<int>(state.range(0));
    const int rate = static_cast<int>(state.range(1));
    Winsock winsock;
    for (auto _ : state) {
        bench::UdpSink sink;
        const unsigned short port = sink.Port();
        bench::PeerCapture tcpdump(bench::PeerCapture::Tool::Tcpdump, "udp dst port " + std::to_string(port));
        std::atomic<long> ours(0);
        double seconds = 0;
        {
            CaptureEngine engine;
            engine.m_sAdapter = "127.0.0.1";
            engine.OpenCapture();
            std::thread consumer([&] { Consume(engine, port, ours); });
            seconds = bench::FloodLoopback(port, kFloodCount, payload, rate);
            WaitUntilStable(ours);
            engine.CloseCapture();
            engine.ReleaseConsumers();
            consumer.join();
        }
        // tcpdump takes its last ring block when it fills or times out.
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        const long reference = tcpdump.Finish();
        state.counters["sent_per_s"] = kFloodCount / seconds;
        state.counters["captured_per_s"] = ours.load() / seconds;
        state.counters["engine_lost_pct"] = 100.0 * (kFloodCount - ours.load()) / kFloodCount;
        state.counters["tcpdump_lost_pct"] = reference < 0 ? -1 : 100.0 * (kFloodCount - reference) / kFloodCount;
        state.counters["engine_captured"] = static_cast<double>(ours.load());
        state.counters["tcpdump_captured"] = static_cast<double>(reference);
        state.counters["tcpdump_kernel_drops"] = static_cast<double>(tcpdump.Dropped());
    }
}
BENCHMARK(BM_CaptureFlood)
    ->ArgNames({"payload", "rate"})
    ->Args({64, 200000})
    ->Args({64, 0})
    ->Args({1400, 200000})
    ->Args({1400, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ResidentPerQueuedRecord(benchmark::State& state)
{
    constexpr int kCount = 100000;
    Winsock winsock;
    for (auto _ : state) {
        bench::UdpSink sink;
        const unsigned short port = sink.Port();
        CaptureEngine engine;
        engine.m_sAdapter = "127.0.0.1";
        const long before = bench::ResidentBytes();
        engine.OpenCapture();
        bench::FloodLoopback(port, kCount, 64, 100000);
        size_t queued = 0;
        for (size_t last = 1; queued != last;) {
            last = queued;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EnterCriticalSection(&engine.m_csQueue);
            queued = engine.m_packets.size();
            LeaveCriticalSection(&engine.m_csQueue);
        }
        engine.CloseCapture();
        const long after = bench::ResidentBytes();
        long received = 0;
        EnterCriticalSection(&engine.m_csQueue);
        for (Packet* packet : engine.m_packets) {
            received += packet->GetReceived();
        }
        LeaveCriticalSection(&engine.m_csQueue);
        state.counters["queued"] = static_cast<double>(queued);
        state.counters["rss_per_record_B"] = static_cast<double>(after - before) / queued;
        state.counters["received_per_record_B"] = static_cast<double>(received) / queued;
        state.counters["sizeof_IPPacket"] = sizeof(IPPacket);
    }
}
BENCHMARK(BM_ResidentPerQueuedRecord)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
