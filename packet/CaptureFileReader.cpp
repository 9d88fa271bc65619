// The capture file reader on libpcap (pcap_fopen_offline_with_tstamp_precision
// at nanosecond precision, so that a pcapng's finer times keep their
// milliseconds and a classic file's microseconds come through as they are).
// libpcap rejects a bad magic number, a truncated header, a snapshot length it
// cannot use and a record longer than it allows; what it reports is passed on
// as the reason.
#include "packet/CaptureFileReader.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace win;

namespace {

// libpcap's DLT_ values for the link types read here. DLT_RAW is 12 on most
// systems and 14 on some BSDs; files say 101 (LINKTYPE_RAW), which libpcap
// turns into the local DLT_RAW, but a file written with the other value keeps it.
constexpr int kNull = 0;             // DLT_NULL: host-order address family
constexpr int kEthernet = 1;         // DLT_EN10MB
constexpr int kRawA = 12;            // DLT_RAW (most systems)
constexpr int kRawB = 14;            // DLT_RAW (OpenBSD)
constexpr int kRawLinkType = 101;    // LINKTYPE_RAW where libpcap keeps it
constexpr int kLoop = 108;           // DLT_LOOP: network-order address family
constexpr int kLinuxSll = 113;       // DLT_LINUX_SLL
constexpr int kIPv4 = 228;           // DLT_IPV4
constexpr int kLinuxSll2 = 276;      // DLT_LINUX_SLL2

constexpr unsigned kEtherTypeIPv4 = 0x0800;
constexpr unsigned kEtherTypeVlan = 0x8100;   // 802.1Q
constexpr unsigned kEtherTypeQinQ = 0x88A8;   // 802.1ad
constexpr unsigned kEtherTypeQinQOld = 0x9100;  // pre-standard double tagging
constexpr int kMaxTags = 8;

// Seconds from 1601-01-01 to 1970-01-01, and file-time units per second.
constexpr long long kEpochDifference = 11644473600LL;
constexpr ULONGLONG kUnitsPerSecond = 10000000ULL;

unsigned Be16(const BYTE* p) { return (static_cast<unsigned>(p[0]) << 8) | p[1]; }

bool IsIPv4(const BYTE* p, std::size_t length) { return length >= 1 && (p[0] >> 4) == 4; }

ULONGLONG ToFileTime(long long seconds, long long nanoseconds) {
    if (seconds < -kEpochDifference) return 0;
    const ULONGLONG since1601 = static_cast<ULONGLONG>(seconds + kEpochDifference);
    constexpr ULONGLONG kMaxSeconds = ~0ULL / kUnitsPerSecond - 1;
    if (since1601 > kMaxSeconds) return kMaxSeconds * kUnitsPerSecond;
    return since1601 * kUnitsPerSecond + static_cast<ULONGLONG>(std::clamp(nanoseconds, 0LL, 999999999LL)) / 100;
}

}  // namespace

CaptureFileReader::~CaptureFileReader() { Close(); }

void CaptureFileReader::Close() {
    if (m_pHandle) pcap_close(m_pHandle);  // closes the file too
    m_pHandle = nullptr;
}

bool CaptureFileReader::Open(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    return Open(file, error);
}

bool CaptureFileReader::Open(std::FILE* file, std::string& error) {
    Close();
    m_nLinkType = -1;
    m_nFileSize = 0;
    m_nPosition.store(0);
    m_nSkipped = 0;
    m_sError.clear();
    if (!file) {
        error = "no file";
        return false;
    }
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        m_nFileSize = size > 0 ? size : 0;
    }
    std::rewind(file);
    // A file of zero bytes is what Save wrote before captures were kept.
    const int first = std::fgetc(file);
    if (first == EOF) {
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            error = "read error";
            return false;
        }
        return true;
    }
    std::rewind(file);
    char message[PCAP_ERRBUF_SIZE] = {};
    m_pHandle = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, message);
    if (!m_pHandle) {
        // libpcap closes nothing it did not open.
        std::fclose(file);
        error = message[0] ? message : "not a capture file";
        return false;
    }
    m_nLinkType = pcap_datalink(m_pHandle);
    if (!IsKnownLinkType(m_nLinkType)) {
        const char* name = pcap_datalink_val_to_name(m_nLinkType);
        error = std::string("link type ") + (name ? name : std::to_string(m_nLinkType)) + " is not supported";
        Close();
        return false;
    }
    m_nPosition.store(std::ftell(file));
    return true;
}

bool CaptureFileReader::IsKnownLinkType(int linkType) {
    switch (linkType) {
    case kNull: case kEthernet: case kRawA: case kRawB: case kRawLinkType: case kLoop: case kLinuxSll: case kIPv4:
    case kLinuxSll2:
        return true;
    default:
        return false;
    }
}

int CaptureFileReader::FindDatagram(int linkType, const BYTE* frame, std::size_t length) {
    std::size_t offset = 0;
    switch (linkType) {
    case kRawA:
    case kRawB:
    case kRawLinkType:
    case kIPv4:
        break;
    case kNull:
    case kLoop: {
        // The address family AF_INET is 2 on every system, in the writer's
        // byte order (null) or in network order (loop): either reads as 2.
        if (length < 4) return -1;
        const bool inet = (frame[0] == 2 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0) ||
                          (frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 2);
        if (!inet) return -1;
        offset = 4;
        break;
    }
    case kEthernet: {
        offset = 12;
        for (int tags = 0;; ++tags) {
            if (length < offset + 2) return -1;
            const unsigned type = Be16(frame + offset);
            if (type == kEtherTypeIPv4) break;
            if ((type != kEtherTypeVlan && type != kEtherTypeQinQ && type != kEtherTypeQinQOld) || tags == kMaxTags)
                return -1;
            offset += 4;
        }
        offset += 2;
        break;
    }
    case kLinuxSll:
        if (length < 16 || Be16(frame + 14) != kEtherTypeIPv4) return -1;
        offset = 16;
        break;
    case kLinuxSll2:
        if (length < 20 || Be16(frame) != kEtherTypeIPv4) return -1;
        offset = 20;
        break;
    default:
        return -1;
    }
    if (!IsIPv4(frame + offset, length - offset)) return -1;
    return static_cast<int>(offset);
}

CaptureFileReader::Result CaptureFileReader::ReadNext(Datagram& datagram) {
    if (!m_pHandle) return kEnd;
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int status = pcap_next_ex(m_pHandle, &header, &data);
        if (std::FILE* file = pcap_file(m_pHandle)) m_nPosition.store(std::ftell(file), std::memory_order_relaxed);
        if (status == PCAP_ERROR_BREAK) return kEnd;
        if (status != 1) {
            m_sError = pcap_geterr(m_pHandle);
            if (m_sError.empty()) m_sError = "damaged record";
            return kDamaged;
        }
        const std::size_t length = header->caplen;
        const int offset = FindDatagram(m_nLinkType, data, length);
        if (offset < 0) {
            ++m_nSkipped;
            continue;
        }
        const BYTE* bytes = data + offset;
        std::size_t held = length - static_cast<std::size_t>(offset);
        // A link layer may pad a short datagram (Ethernet's minimum frame):
        // the padding is not part of it. The total length says where it ends.
        if (held >= 4) {
            const std::size_t total = Be16(bytes + 2);
            if (total >= 20 && total < held) held = total;
        }
        datagram.bytes = bytes;
        datagram.length = static_cast<int>(std::min<std::size_t>(held, 65535));
        datagram.fileTime = ToFileTime(static_cast<long long>(header->ts.tv_sec), header->ts.tv_usec);
        return kDatagram;
    }
}
