// Reads capture files, pcap and pcapng, through libpcap and yields the IPv4
// datagram of each record with its time. libpcap checks the file's header and
// every record's lengths; this class takes the IPv4 datagram out of the
// link-layer frame of the file's link type: raw IP (LINKTYPE_RAW, LINKTYPE_IPV4
// and the platforms' DLT_RAW values), Ethernet with 802.1Q and 802.1ad tags,
// Linux cooked captures v1 and v2, and BSD loopback and null. Frames that
// carry no IPv4 datagram are skipped and counted.
//
// One thread uses a reader at a time; GetPosition may be read from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/WinTypes.h"

struct pcap;

class CaptureFileReader {
public:
    /// One datagram: the bytes the file holds (cut short where the file's
    /// snapshot length cut it) and its time as a file time. Valid until the
    /// next ReadNext or Close.
    struct Datagram {
        const win::BYTE* bytes = nullptr;
        int length = 0;
        win::ULONGLONG fileTime = 0;
    };

    enum Result {
        kDatagram,  // a datagram was read
        kEnd,       // the file ends here, cleanly
        kDamaged,   // the file is damaged or cut off here: GetError says how
    };

    CaptureFileReader() = default;
    ~CaptureFileReader();
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    /// Opens the file and checks its header. A file of zero bytes opens as an
    /// empty capture. On failure returns false with the reason in error.
    bool Open(const std::string& path, std::string& error);
    /// The same for a file already open for reading; the reader owns it from
    /// now on, also on failure.
    bool Open(std::FILE* file, std::string& error);
    void Close();

    /// The next datagram, skipping (and counting) frames without one.
    Result ReadNext(Datagram& datagram);

    /// Why reading stopped at kDamaged.
    const std::string& GetError() const { return m_sError; }
    /// Frames skipped because they carry no IPv4 datagram.
    unsigned long long GetSkippedCount() const { return m_nSkipped; }
    /// Bytes of the file read so far, and the file's size (0 when unknown).
    long long GetPosition() const { return m_nPosition.load(std::memory_order_relaxed); }
    long long GetFileSize() const { return m_nFileSize; }
    /// The file's link type (a DLT_ value), -1 for an empty file.
    int GetLinkType() const { return m_nLinkType; }

    /// Finds the IPv4 datagram in a frame of the link type (a DLT_ value):
    /// its offset in the frame, or -1 when the frame carries none.
    static int FindDatagram(int linkType, const win::BYTE* frame, std::size_t length);
    /// Whether the reader can take datagrams out of frames of this link type.
    static bool IsKnownLinkType(int linkType);

private:
    pcap* m_pHandle = nullptr;
    int m_nLinkType = -1;
    long long m_nFileSize = 0;
    std::atomic<long long> m_nPosition{0};
    unsigned long long m_nSkipped = 0;
    std::string m_sError;
};
