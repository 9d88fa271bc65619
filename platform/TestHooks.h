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
    unsigned long long kernelPackets = 0;  ///< datagrams the kernel matched, dropped ones included
    unsigned long long kernelDrops = 0;    ///< datagrams the kernel dropped (ring or queue full)
    unsigned long long received = 0;       ///< datagrams handed out by recv
    bool ring = false;                     ///< a memory-mapped receive ring is in use
};
/// The counters of one open capture socket; false for an unknown handle.
bool GetCaptureStatistics(SOCKET s, CaptureStatistics* statistics);
/// The sums over every capture socket of the process since the last reset,
/// closed ones included (ring is true if any socket used a ring).
CaptureStatistics GetTotalCaptureStatistics();
void ResetTotalCaptureStatistics();

/// How SIO_RCVALL sets up the receive path of later capture sockets.
struct CaptureRingOptions {
    bool enabled = true;              ///< false: a plain socket with a large receive buffer
    /// Bytes per ring block (a multiple of the page size): room for the
    /// largest datagram, and small, so that blocks handed over by time-out
    /// while hardly filled waste little of the ring.
    unsigned blockSize = 1u << 17;
    /// Blocks in the ring (64 MiB): a stall of the process rides on the
    /// blocks; at 10,000 datagrams/s one block times out every blockTimeoutMs
    /// ms, so 512 blocks hold about five seconds of it.
    unsigned blockCount = 512;
    /// A block that holds datagrams is handed over after this at the latest;
    /// short enough that rows appear within about 20 ms.
    unsigned blockTimeoutMs = 10;
};
/// Replaces the options; null restores the defaults.
void SetCaptureRingOptions(const CaptureRingOptions* options);
CaptureRingOptions GetCaptureRingOptions();

/// Where later capture sockets come from. Automatic: created directly when
/// the process holds CAP_NET_RAW, else by the capture-socket helper.
enum class PacketSocketSource { Automatic, Helper, Direct };
/// Sets the source; helperPath (null: the helper beside the executable) and
/// timeoutMs (0: the default) replace where the helper is and how long it may take.
void SetPacketSocketSource(PacketSocketSource source, const char* helperPath = nullptr, int timeoutMs = 0);

}  // namespace win::testing
