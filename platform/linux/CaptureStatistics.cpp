// Process-wide capture counters for benchmarks and loss tests, and the
// options of the receive ring (test seams declared in TestHooks.h).
#include <atomic>
#include <mutex>

#include "platform/TestHooks.h"
#include "platform/linux/CaptureSocket.h"
#include "platform/linux/Internal.h"

namespace win {

namespace {
std::atomic<unsigned long long> g_kernelPackets{0};
std::atomic<unsigned long long> g_kernelDrops{0};
std::atomic<unsigned long long> g_received{0};
std::atomic<bool> g_anyRing{false};

std::mutex g_optionsMutex;
testing::CaptureRingOptions g_options;  // guarded by g_optionsMutex

// Folds the kernel counters of every open socket into the totals.
void RefreshOpenSockets() {
    for (const auto& socket : detail::AllSockets()) socket->Statistics();
}
}  // namespace

namespace detail {
void AddToCaptureTotals(unsigned long long kernelPackets, unsigned long long kernelDrops, unsigned long long received,
                        bool ring) {
    if (kernelPackets != 0) g_kernelPackets.fetch_add(kernelPackets, std::memory_order_relaxed);
    if (kernelDrops != 0) g_kernelDrops.fetch_add(kernelDrops, std::memory_order_relaxed);
    if (received != 0) g_received.fetch_add(received, std::memory_order_relaxed);
    if (ring) g_anyRing.store(true, std::memory_order_relaxed);
}
}  // namespace detail

namespace testing {

bool GetCaptureStatistics(SOCKET s, CaptureStatistics* statistics) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::FindSocket(s);
    if (socket == nullptr || statistics == nullptr) return false;
    *statistics = socket->Statistics();
    return true;
}

CaptureStatistics GetTotalCaptureStatistics() {
    RefreshOpenSockets();
    CaptureStatistics totals;
    totals.kernelPackets = g_kernelPackets.load(std::memory_order_relaxed);
    totals.kernelDrops = g_kernelDrops.load(std::memory_order_relaxed);
    totals.received = g_received.load(std::memory_order_relaxed);
    totals.ring = g_anyRing.load(std::memory_order_relaxed);
    return totals;
}

void ResetTotalCaptureStatistics() {
    RefreshOpenSockets();
    g_kernelPackets = 0;
    g_kernelDrops = 0;
    g_received = 0;
    g_anyRing = false;
}

void SetCaptureRingOptions(const CaptureRingOptions* options) {
    std::lock_guard lock(g_optionsMutex);
    g_options = options != nullptr ? *options : CaptureRingOptions{};
}

CaptureRingOptions GetCaptureRingOptions() {
    std::lock_guard lock(g_optionsMutex);
    return g_options;
}

}  // namespace testing
}  // namespace win
