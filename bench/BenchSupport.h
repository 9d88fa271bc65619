// Helpers for the capture benchmarks, apart from the Winsock declarations
// whose names the system socket headers define as macros: a bounded UDP flood
// on loopback, tcpdump as a reference capture, and the resident set size.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace bench {

/// Sends count datagrams of payload bytes to 127.0.0.1:port from one socket;
/// perSecond 0 means full rate. Returns the seconds taken.
double FloodLoopback(unsigned short port, int count, int payload, int perSecond);

/// Sends count datagrams of 64 payload bytes to 127.0.0.1:port, paced at
/// perSecond, each carrying SteadyNanoseconds() at its sending in its first
/// eight payload bytes (host byte order).
void SendStamped(unsigned short port, int count, int perSecond);
/// The monotonic clock in nanoseconds, the same in every process.
long long SteadyNanoseconds();

/// A bound UDP socket on an ephemeral 127.0.0.1 port that never reads, so
/// that the flood draws no ICMP port-unreachable replies.
class UdpSink {
public:
    UdpSink();
    ~UdpSink();
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;
    unsigned short Port() const { return m_wPort; }

private:
    int m_fd;
    unsigned short m_wPort = 0;
};

/// A peer capture program on lo writing to /dev/null with a filter:
/// `tcpdump -i lo -n -w /dev/null <filter>` or `dumpcap -i lo -q -w /dev/null -f <filter>`.
class PeerCapture {
public:
    enum class Tool { Tcpdump, Dumpcap };
    PeerCapture(Tool tool, const std::string& filter);
    ~PeerCapture();
    PeerCapture(const PeerCapture&) = delete;
    PeerCapture& operator=(const PeerCapture&) = delete;
    int Pid() const { return m_pid; }
    /// Stops the program at once and returns its "packets captured" count
    /// (one per loopback datagram: libpcap skips the outgoing copy), or -1.
    /// Give it time to take its last ring block first: without immediate mode
    /// libpcap waits for a block to fill or time out (up to a second).
    long Finish();
    /// Datagrams the kernel dropped for it, after Finish; -1 when not reported.
    long Dropped() const { return m_nDropped; }

private:
    Tool m_tool;
    int m_pid = -1;
    long m_nDropped = -1;
    std::string m_sLog;
};

/// CPU time (user and system) of every thread of a process so far, in
/// nanoseconds, from /proc/<pid>/task/*/schedstat; -1 when it cannot be read.
long long CpuNanoseconds(int pid);

/// Moves the calling thread (and the threads and processes it starts later)
/// into a network namespace of its own whose lo is up, so that lo carries
/// nothing but the benchmark's own datagrams. False when that fails.
bool EnterPrivateLoopback();

/// A forked child process that runs body(commandFd, replyFd) and exits with
/// its result; the parent talks to it through two pipes.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<int(int commandFd, int replyFd)>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int Pid() const { return m_pid; }
    bool Send(char command);
    /// Reads exactly size bytes of the child's reply; false at its end.
    bool Receive(void* data, std::size_t size);
    void Stop();      ///< SIGSTOP: every thread of the child stands still
    void Continue();  ///< SIGCONT
    /// Waits for the child's end; its exit status, or -1.
    int Wait();

private:
    int m_pid = -1;
    int m_commandFd = -1;
    int m_replyFd = -1;
};
/// Reads exactly size bytes from fd; false at its end or on an error.
bool ReadAll(int fd, void* data, std::size_t size);
/// Writes all size bytes to fd.
bool WriteAll(int fd, const void* data, std::size_t size);

/// VmRSS of this process in bytes.
long ResidentBytes();

}  // namespace bench
