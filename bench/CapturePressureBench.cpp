// Capture under pressure, beside peer capture programs in the same runs. The
// engine runs in a child process of its own (so that SIGSTOP stops all of it,
// and not its capture helper, which is the engine's child) with a consumer
// that only pops and frees; the peers write to /dev/null. All traffic is a
// bounded UDP flood on lo inside a private network namespace, so lo carries
// nothing else. Needs root, tcpdump and (for the bursts) dumpcap. The engine's
// CPU counts its capture helper's too, when it has one.
//
// - BM_Stall: the whole engine process is stopped (SIGSTOP) for a while in
//   the middle of a paced flood; tcpdump keeps running. Loss of each, the
//   loss the engine reported, and the helper's peak resident memory.
// - BM_Burst: 300,000 datagrams at a paced rate or at the sender's full
//   rate, captured at once by the engine, dumpcap and `tcpdump -w`: loss and
//   CPU per captured datagram of each (all threads, from schedstat, counted
//   from before the flood until the last ring block has been taken).
// - BM_WholeCpu: one capturer alone (none, the engine, dumpcap or tcpdump)
//   on the same flood, with the sender's own CPU: on lo the kernel delivers
//   to every capturer in the sender's system calls, so the sender's CPU less
//   that of the run with no capturer is the kernel's share of the capture.
//   For the engine, its capture helper's part of its CPU is shown apart.
// - BM_Latency: from the sending of a datagram to its record's pop, at a low
//   paced rate.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "capture/CaptureEngine.h"
#include "platform/TestHooks.h"
#include "platform/WinSock.h"

using namespace win;

namespace {

using namespace std::chrono_literals;

constexpr char kFilter[] = "udp";

struct EngineResult {
    long long captured = -1;
    long long lost = -1;  // the engine's own count of the system's drops
    // From the sending of a stamped datagram to its record's pop, in µs.
    double latencyMedian = -1;
    double latencyMax = -1;
};

void WaitUntilStable(const std::atomic<long long>& count)
{
    long long last = -1;
    while (count.load() != last) {
        last = count.load();
        std::this_thread::sleep_for(300ms);
    }
}

// The child: captures on 127.0.0.1 with a pop-and-free consumer, says 'R'
// when capturing, and on any command waits until the count settles, closes
// and replies with an EngineResult. With stamped, the consumer also reads the
// send time that SendStamped put in each datagram.
int RunEngine(int commandFd, int replyFd, bool stamped)
{
    // QV_BENCH_RING="blockSize,blockCount,blockTimeoutMs" tries another ring.
    if (const char* ring = std::getenv("QV_BENCH_RING")) {
        win::testing::CaptureRingOptions options;
        if (std::sscanf(ring, "%u,%u,%u", &options.blockSize, &options.blockCount, &options.blockTimeoutMs) == 3) {
            win::testing::SetCaptureRingOptions(&options);
        }
    }
    WSADATA data{};
    WSAStartup(0x0202, &data);
    EngineResult result;
    {
        CaptureEngine engine;
        engine.m_sAdapter = "127.0.0.1";
        try {
            engine.OpenCapture();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "engine: %s\n", e.what());
            return 1;
        }
        std::atomic<long long> popped(0);
        std::vector<double> latencies;
        std::thread consumer([&] {
            for (;;) {
                EnterCriticalSection(&engine.m_csQueue);
                if (!engine.m_packets.empty()) {
                    Packet* packet = engine.PopPacket();
                    LeaveCriticalSection(&engine.m_csQueue);
                    if (stamped && packet->GetReceived() >= 28 + 8) {
                        long long sent = 0;
                        std::memcpy(&sent, packet->GetData() + 28, sizeof sent);
                        latencies.push_back((bench::SteadyNanoseconds() - sent) / 1000.0);
                    }
                    delete packet;
                    popped.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                LeaveCriticalSection(&engine.m_csQueue);
                if (!engine.WaitForPacket()) {
                    return;
                }
            }
        });
        bench::WriteAll(replyFd, "R", 1);
        char command = 0;
        bench::ReadAll(commandFd, &command, 1);
        WaitUntilStable(popped);
        engine.CloseCapture();
        engine.ReleaseConsumers();
        consumer.join();
        result.captured = popped.load();
        result.lost = static_cast<long long>(engine.GetLostCount());
        if (!latencies.empty()) {
            std::sort(latencies.begin(), latencies.end());
            result.latencyMedian = latencies[latencies.size() / 2];
            result.latencyMax = latencies.back();
        }
    }
    WSACleanup();
    bench::WriteAll(replyFd, &result, sizeof result);
    return 0;
}

class EngineProcess {
public:
    explicit EngineProcess(bool stamped = false)
        : m_child([stamped](int commandFd, int replyFd) { return RunEngine(commandFd, replyFd, stamped); })
    {
        char ready = 0;
        if (!m_child.Receive(&ready, 1) || ready != 'R') {
            throw std::runtime_error("the engine did not start");
        }
    }
    int Pid() const { return m_child.Pid(); }
    void Stop() { m_child.Stop(); }
    void Continue() { m_child.Continue(); }
    EngineResult Finish()
    {
        EngineResult result;
        m_child.Send('Q');
        m_child.Receive(&result, sizeof result);
        m_child.Wait();
        return result;
    }

private:
    bench::ChildProcess m_child;
};

// Pids of the processes a process started (its capture helper).
std::vector<int> Children(int pid)
{
    std::vector<int> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream in(tasks + "/" + entry->d_name + "/children");
            for (int child; in >> child;) children.push_back(child);
        }
        ::closedir(dir);
    }
    return children;
}

// CPU of the processes a process started (the engine's capture helper).
long long ChildrenCpuNanoseconds(int pid)
{
    long long total = 0;
    for (int child : Children(pid)) total += std::max(0LL, bench::CpuNanoseconds(child));
    return total;
}

// CPU of a process and of the processes it started.
long long TreeCpuNanoseconds(int pid) { return bench::CpuNanoseconds(pid) + ChildrenCpuNanoseconds(pid); }

// Peak resident memory of the engine's children (its capture helper), in MiB.
double ChildPeakResidentMiB(int pid)
{
    double total = 0;
    for (int child : Children(pid)) {
        std::ifstream in("/proc/" + std::to_string(child) + "/status");
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("VmHWM:", 0) == 0) total += std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return total;
}

long long ThreadCpuNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

double LostPercent(long long sent, long long captured)
{
    return captured < 0 ? -1 : 100.0 * static_cast<double>(sent - captured) / static_cast<double>(sent);
}

double MicrosecondsPer(long long nanoseconds, long long count)
{
    return count <= 0 ? -1 : nanoseconds / 1000.0 / static_cast<double>(count);
}

bool Prepare(benchmark::State& state)
{
    static const bool isolated = bench::EnterPrivateLoopback();
    if (!isolated) {
        state.SkipWithError("no private network namespace (needs root)");
    }
    return isolated;
}

// Args: rate per second, stall in ms, datagrams; the stop begins after a
// third of the flood.
void BM_Stall(benchmark::State& state)
{
    if (!Prepare(state)) {
        return;
    }
    const int rate = static_cast<int>(state.range(0));
    const auto stall = std::chrono::milliseconds(state.range(1));
    const int count = static_cast<int>(state.range(2));
    for (auto _ : state) {
        bench::UdpSink sink;
        bench::PeerCapture tcpdump(bench::PeerCapture::Tool::Tcpdump, kFilter);
        EngineProcess engine;
        double seconds = 0;
        std::thread flood([&] { seconds = bench::FloodLoopback(sink.Port(), count, 64, rate); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1000LL * count / rate / 3));
        engine.Stop();
        std::this_thread::sleep_for(stall);
        engine.Continue();
        flood.join();
        std::this_thread::sleep_for(2000ms);
        const double helperMiB = ChildPeakResidentMiB(engine.Pid());
        const EngineResult result = engine.Finish();
        const long reference = tcpdump.Finish();
        state.counters["helper_peak_rss_MiB"] = helperMiB;
        state.counters["sent_per_s"] = count / seconds;
        state.counters["engine_lost"] = static_cast<double>(count - result.captured);
        state.counters["engine_reported_lost"] = static_cast<double>(result.lost);
        state.counters["tcpdump_lost"] = reference < 0 ? -1 : static_cast<double>(count - reference);
        state.counters["tcpdump_kernel_drops"] = static_cast<double>(tcpdump.Dropped());
    }
}
BENCHMARK(BM_Stall)
    ->ArgNames({"rate", "stall_ms", "count"})
    ->Args({10000, 1000, 30000})
    ->Args({10000, 10000, 150000})
    ->Args({100000, 10000, 1500000})
    ->Args({300000, 200, 300000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Args: payload bytes, rate per second (0: the sender's full rate).
void BM_Burst(benchmark::State& state)
{
    if (!Prepare(state)) {
        return;
    }
    constexpr int kCount = 300000;
    const int payload = static_cast<int>(state.range(0));
    const int rate = static_cast<int>(state.range(1));
    for (auto _ : state) {
        bench::UdpSink sink;
        bench::PeerCapture dumpcap(bench::PeerCapture::Tool::Dumpcap, kFilter);
        bench::PeerCapture tcpdump(bench::PeerCapture::Tool::Tcpdump, kFilter);
        EngineProcess engine;
        const long long engineCpu = TreeCpuNanoseconds(engine.Pid());
        const long long dumpcapCpu = bench::CpuNanoseconds(dumpcap.Pid());
        const long long tcpdumpCpu = bench::CpuNanoseconds(tcpdump.Pid());
        const double seconds = bench::FloodLoopback(sink.Port(), kCount, payload, rate);
        // libpcap's programs take a ring block when it fills or times out (1 s).
        std::this_thread::sleep_for(2500ms);
        const long long engineUsed = TreeCpuNanoseconds(engine.Pid()) - engineCpu;
        const long long dumpcapUsed = bench::CpuNanoseconds(dumpcap.Pid()) - dumpcapCpu;
        const long long tcpdumpUsed = bench::CpuNanoseconds(tcpdump.Pid()) - tcpdumpCpu;
        const EngineResult result = engine.Finish();
        const long dumpcapCaptured = dumpcap.Finish();
        const long tcpdumpCaptured = tcpdump.Finish();
        state.counters["sent_per_s"] = kCount / seconds;
        state.counters["engine_lost_pct"] = LostPercent(kCount, result.captured);
        state.counters["dumpcap_lost_pct"] = LostPercent(kCount, dumpcapCaptured);
        state.counters["tcpdump_lost_pct"] = LostPercent(kCount, tcpdumpCaptured);
        state.counters["engine_reported_lost"] = static_cast<double>(result.lost);
        state.counters["engine_cpu_us"] = MicrosecondsPer(engineUsed, result.captured);
        state.counters["dumpcap_cpu_us"] = MicrosecondsPer(dumpcapUsed, dumpcapCaptured);
        state.counters["tcpdump_cpu_us"] = MicrosecondsPer(tcpdumpUsed, tcpdumpCaptured);
    }
}
BENCHMARK(BM_Burst)
    ->ArgNames({"payload", "rate"})
    ->Args({64, 0})
    ->Args({1400, 0})
    ->Args({64, 100000})
    ->Args({1400, 100000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Args: payload bytes, rate per second (0: full rate), capturer (0 none, 1
// the engine, 2 dumpcap, 3 tcpdump). CPU per datagram sent: the capturer's
// processes and the sender's thread (the kernel's delivery runs there); for
// the engine also its capture helper's share alone.
void BM_WholeCpu(benchmark::State& state)
{
    if (!Prepare(state)) {
        return;
    }
    constexpr int kCount = 300000;
    const int payload = static_cast<int>(state.range(0));
    const int rate = static_cast<int>(state.range(1));
    const int tool = static_cast<int>(state.range(2));
    for (auto _ : state) {
        bench::UdpSink sink;
        std::unique_ptr<EngineProcess> engine;
        std::unique_ptr<bench::PeerCapture> peer;
        if (tool == 1) engine = std::make_unique<EngineProcess>();
        if (tool == 2) peer = std::make_unique<bench::PeerCapture>(bench::PeerCapture::Tool::Dumpcap, kFilter);
        if (tool == 3) peer = std::make_unique<bench::PeerCapture>(bench::PeerCapture::Tool::Tcpdump, kFilter);
        const int pid = engine ? engine->Pid() : peer ? peer->Pid() : -1;
        const long long before = pid > 0 ? TreeCpuNanoseconds(pid) : 0;
        const long long helperBefore = engine ? ChildrenCpuNanoseconds(pid) : 0;
        const long long senderBefore = ThreadCpuNanoseconds();
        const double seconds = bench::FloodLoopback(sink.Port(), kCount, payload, rate);
        const long long sender = ThreadCpuNanoseconds() - senderBefore;
        std::this_thread::sleep_for(2500ms);
        const long long used = pid > 0 ? TreeCpuNanoseconds(pid) - before : 0;
        const long long helper = engine ? ChildrenCpuNanoseconds(pid) - helperBefore : 0;
        long long captured = kCount;
        if (engine) captured = engine->Finish().captured;
        if (peer) captured = peer->Finish();
        state.counters["sent_per_s"] = kCount / seconds;
        state.counters["lost_pct"] = LostPercent(kCount, captured);
        state.counters["sender_cpu_us"] = MicrosecondsPer(sender, kCount);
        state.counters["capturer_cpu_us"] = MicrosecondsPer(used, kCount);
        if (engine) state.counters["helper_cpu_us"] = MicrosecondsPer(helper, kCount);
    }
}
BENCHMARK(BM_WholeCpu)
    ->ArgNames({"payload", "rate", "tool"})
    ->ArgsProduct({{64, 1400}, {0, 100000}, {0, 1, 2, 3}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// From the sending of a datagram to its record's pop, at a low paced rate:
// what the ring's block time-out adds before rows can appear.
void BM_Latency(benchmark::State& state)
{
    if (!Prepare(state)) {
        return;
    }
    const int rate = static_cast<int>(state.range(0));
    const int count = rate * 2;
    for (auto _ : state) {
        bench::UdpSink sink;
        EngineProcess engine(true);
        bench::SendStamped(sink.Port(), count, rate);
        std::this_thread::sleep_for(500ms);
        const EngineResult result = engine.Finish();
        state.counters["captured"] = static_cast<double>(result.captured);
        state.counters["latency_median_ms"] = result.latencyMedian / 1000.0;
        state.counters["latency_max_ms"] = result.latencyMax / 1000.0;
    }
}
BENCHMARK(BM_Latency)->ArgNames({"rate"})->Arg(100)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
