// Seams for tests of the program: they let a test stand in for conditions that
// cannot be produced on the machine (an older operating system, a slow name
// service). Nothing in the program calls these.
#pragma once

#include <functional>
#include <string>

#include "platform/WinKernel.h"
#include "platform/WinSock.h"

namespace win::testing {

/// Makes GetVersionExA answer with the given platform id and version, or, with
/// null, with the real answer again. The environment variable
/// QUORVANE_OS_VERSION="platform.major.minor" (for example "1.4.10" or "2.4.0")
/// does the same for a whole process.
void SetVersionOverride(const OSVERSIONINFOA* answer);

/// Makes every later WSAStartup fail with the given Winsock error (for
/// example WSASYSNOTREADY) without starting anything; 0 restores it.
void SetStartupFailure(int error);

/// Makes every later SIO_RCVALL request fail with the given Winsock error (the
/// kernel offers no way to refuse it on demand); 0 restores it.
void SetReceiveAllFailure(int error);

/// Called by gethostbyaddr with the address (network byte order) before the
/// system resolver is asked; a hook may block to stand for a slow name service.
/// Null removes the hook.
void SetResolverHook(std::function<void(unsigned long address)> hook);

/// Makes the next count VirtualAlloc calls fail as if memory had run out
/// (ERROR_NOT_ENOUGH_MEMORY); 0 cancels what is left.
void SetVirtualAllocFailures(int count);
/// The injected failures not yet used.
int GetVirtualAllocFailures();

/// Makes the next count readings of GlobalMemoryStatusEx fail as if the
/// memory to read the status with had run out; 0 cancels what is left.
void SetMemoryStatusFailures(int count);

/// The process's own control groups as /proc/self/cgroup lists them: the path
/// of the cgroup v1 memory hierarchy and the cgroup v2 path, each empty when
/// absent. The memory status reads its limits below them; a test makes its
/// own limited group below them.
void ReadOwnControlGroups(std::string& v1Memory, std::string& v2);

/// Counters of capture sockets, for benchmarks and loss tests.
struct CaptureStatistics {
    // The kernel's counts come from the helper's statistics blocks, which it
    // writes whenever the drop count changes and when the interface goes away.
    unsigned long long kernelPackets = 0;  ///< datagrams the kernel matched, dropped ones included
    unsigned long long kernelDrops = 0;    ///< datagrams the kernel dropped (the helper's ring full)
    unsigned long long received = 0;       ///< datagrams handed out by recv
    bool ring = false;                     ///< the helper's stream has started
};
/// The counters of one open capture socket; false for an unknown handle.
bool GetCaptureStatistics(SOCKET s, CaptureStatistics* statistics);
/// The sums over every capture socket of the process since the last reset,
/// closed ones included (ring is true if any socket used a ring).
CaptureStatistics GetTotalCaptureStatistics();
void ResetTotalCaptureStatistics();

/// The shape of the receive ring that the capture helper sets up for later
/// capture sockets. The helper copies datagrams out of the ring as the kernel
/// hands blocks over, into the output ring it shares with the program, so the
/// receive ring only has to cover the helper's own pauses.
struct CaptureRingOptions {
    /// Bytes per ring block (a power of two from 64 KiB to 4 MiB): room for
    /// the largest datagram. A block is handed over when full or at the
    /// time-out; at high rates each hand-over wakes the helper and then the
    /// program, and 1 MiB blocks wake both an eighth as often as 128 KiB ones
    /// (0.2 to 0.3 µs less CPU per 1,400-byte datagram at 100,000 per second).
    unsigned blockSize = 1u << 20;
    /// Blocks in the ring (32 MiB): at the sender's full rate of small
    /// datagrams, about 200,000 of them; at low rates, where blocks go by
    /// time-out, 320 ms of pause of the helper, which copies them out at once.
    unsigned blockCount = 32;
    /// A block that holds datagrams is handed over after this at the latest;
    /// short enough that rows appear within about 20 ms.
    unsigned blockTimeoutMs = 10;
    /// The output ring between the helper and the program, which holds the
    /// stream for a stalled program (1 MiB to 256 MiB, rounded up to 64 KiB;
    /// its pages are used as far as the stream has gone round): about
    /// 270,000 datagrams of 64 payload bytes, where a 10 s stall at 10,000
    /// per second needs 100,000.
    unsigned bufferBytes = 32u << 20;
};
/// Replaces the options; null restores the defaults.
void SetCaptureRingOptions(const CaptureRingOptions* options);
CaptureRingOptions GetCaptureRingOptions();

/// Where the capture helper is (null: beside the executable, as installed)
/// and how long the program waits for each of its replies (0: the default).
void SetCaptureHelper(const char* helperPath, int timeoutMs = 0);

}  // namespace win::testing
