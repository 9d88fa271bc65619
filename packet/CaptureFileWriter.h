// Writes datagrams to a capture file in pcapng, the format tcpdump, tshark and
// Wireshark read: one section with the program's name, one interface of link
// type raw IPv4 (LINKTYPE_RAW) with nanosecond times, one enhanced packet
// block per datagram, and an interface statistics block with the capture's
// drop count.
//
// Our own code: libpcap 1.10 writes only classic pcap, which carries neither
// the interface's name, the drop count nor the program's name. The format is
// a few fixed blocks (about a hundred lines here); reading stays with libpcap.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

class CaptureFileWriter {
public:
    /// Writes into file, which stays the caller's: flush and close it there,
    /// and check it for write errors, after Finish.
    explicit CaptureFileWriter(std::FILE* file);
    CaptureFileWriter(const CaptureFileWriter&) = delete;
    CaptureFileWriter& operator=(const CaptureFileWriter&) = delete;

    /// The section and interface blocks. interfaceName may be empty.
    void WriteHeader(const std::string& application, const std::string& interfaceName);
    /// One datagram: the bytes held, its time as a file time. A datagram whose
    /// header states a longer total length is marked as cut short at length.
    void WriteDatagram(const win::BYTE* bytes, int length, win::ULONGLONG fileTime);
    /// The interface statistics block: datagrams the system dropped.
    void WriteStatistics(win::ULONGLONG fileTime, unsigned long long dropped);
    /// Hands everything buffered to the file.
    void Finish();

    /// Nanoseconds since 1970-01-01 UTC for a file time (0 before 1970).
    static unsigned long long ToUnixNanoseconds(win::ULONGLONG fileTime);

private:
    void Put16(unsigned value);
    void Put32(unsigned long value);
    void Put64(unsigned long long value);
    void PutBytes(const void* bytes, std::size_t count);
    void PutOption(unsigned code, const void* value, std::size_t length);
    void Pad();
    /// Patches a block's total length at its start and appends it at its end.
    void EndBlock(std::size_t start);
    void FlushIfFull();

    std::FILE* m_pFile;
    std::vector<win::BYTE> m_buffer;
};
