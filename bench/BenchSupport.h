// Helpers for the capture benchmarks, apart from the Winsock declarations
// whose names the system socket headers define as macros: a bounded UDP flood
// on loopback, tcpdump as a reference capture, and the resident set size.
#pragma once

#include <string>

namespace bench {

/// Sends count datagrams of payload bytes to 127.0.0.1:port from one socket;
/// perSecond 0 means full rate. Returns the seconds taken.
double FloodLoopback(unsigned short port, int count, int payload, int perSecond);

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

/// Runs `tcpdump -i lo -w /dev/null udp dst port <port>` until Finish.
class TcpdumpRun {
public:
    explicit TcpdumpRun(unsigned short port);
    ~TcpdumpRun();
    /// Stops tcpdump and returns its "packets captured" count (one per
    /// datagram: libpcap skips the outgoing loopback copy), or -1.
    long Finish();
    /// Its "packets dropped by kernel" count, after Finish.
    long Dropped() const { return m_nDropped; }

private:
    int m_pid = -1;
    long m_nDropped = -1;
    std::string m_sLog;
};

/// VmRSS of this process in bytes.
long ResidentBytes();

}  // namespace bench
