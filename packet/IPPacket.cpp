// Decoding and text forms of the IPv4 record. Every header byte is read
// through ByteReader over the bytes received, so a datagram shorter than its
// headers claim decodes its missing bytes as zero.
#include "packet/IPPacket.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "packet/ByteReader.h"
#include "packet/ProtocolTable.h"
#include "packet/ReceiveBuffer.h"

using namespace win;

namespace {

constexpr WORD kProtocolIgmp = 2;
constexpr WORD kProtocolTcp = 6;
constexpr WORD kProtocolUdp = 17;

const char* const kAddressFormat = "%d.%d.%d.%d";

struct FlagName {
    WORD wBit;
    const char* pszName;
};

// The order in which the info text lists the flags.
const FlagName kFlagNames[] = {
    {0x02, "SYN "}, {0x10, "ACK "}, {0x04, "RST "}, {0x01, "FIN "}, {0x20, "URG "}, {0x08, "PSH "},
};

void FormatAddress(DWORD address, char* text)
{
    std::sprintf(text, kAddressFormat, static_cast<int>((address >> 24) & 0xFF), static_cast<int>((address >> 16) & 0xFF),
                 static_cast<int>((address >> 8) & 0xFF), static_cast<int>(address & 0xFF));
}

}  // namespace

IPPacket::IPPacket() : m_pData(nullptr), m_pReceiveBuffer(nullptr), m_bSettled(false), m_nReceived(0)
{
    ZeroFields();
    m_szTimestamp[0] = '\0';

    m_pReceiveBuffer = ReceiveBuffer::Borrow();
    m_pData = m_pReceiveBuffer ? m_pReceiveBuffer->GetBytes() : new BYTE[ReceiveBuffer::kSize];

    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatTimestamp(now, m_szTimestamp);
}

IPPacket::~IPPacket()
{
    if (m_pReceiveBuffer) {
        ReleaseReceiveBuffer();
    } else {
        delete[] m_pData;
    }
}

void IPPacket::ZeroFields()
{
    m_wVersion = m_wHeaderLength = m_wTypeOfService = m_wTotalLength = m_wIdentification = 0;
    m_wFlags = m_wTimeToLive = m_wFragmentOffset = m_wProtocol = m_wChecksum = 0;
    m_wSourcePort = m_wDestPort = 0;
    m_dwSourceAddress = m_dwDestAddress = 0;
    m_wIgmpChecksum = m_wIgmpVersion = m_wIgmpType = m_wIgmpSecondByte = 0;
    m_dwIgmpGroup = 0;
    m_wUdpSourcePort = m_wUdpDestPort = m_wUdpLength = m_wUdpChecksum = 0;
    m_wTcpSourcePort = m_wTcpDestPort = m_wTcpDataOffset = m_wTcpFlags = 0;
    m_wTcpWindow = m_wTcpChecksum = m_wTcpUrgentPointer = 0;
    m_dwTcpSequence = m_dwTcpAcknowledgement = 0;
}

void IPPacket::FormatTimestamp(const SYSTEMTIME& time, char* text)
{
    // Every record is stamped, so the fields of a real time of day are
    // written digit by digit, as the format below writes them; anything else
    // goes through the format itself.
    if (time.wHour < 100 && time.wMinute < 100 && time.wSecond < 100 && time.wMilliseconds < 1000) {
        const auto two = [](WORD value, char* out) {
            out[0] = static_cast<char>('0' + value / 10);
            out[1] = static_cast<char>('0' + value % 10);
        };
        two(time.wHour, text);
        text[2] = ':';
        two(time.wMinute, text + 3);
        text[5] = ':';
        two(time.wSecond, text + 6);
        text[8] = ':';
        text[9] = static_cast<char>('0' + time.wMilliseconds / 100);
        two(time.wMilliseconds % 100, text + 10);
        text[12] = '\0';
        return;
    }
    // The 0 flags are redundant next to the precision, which already
    // zero-fills, and the compiler says so; the output is the same.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    std::snprintf(text, kTimestampSize, "%0.2d:%0.2d:%0.2d:%0.3d", static_cast<int>(time.wHour), static_cast<int>(time.wMinute),
                  static_cast<int>(time.wSecond), static_cast<int>(time.wMilliseconds));
#pragma GCC diagnostic pop
}

void IPPacket::ReleaseReceiveBuffer()
{
    m_pReceiveBuffer->Return();
    m_pReceiveBuffer = nullptr;
    m_pData = nullptr;
}

void IPPacket::Keep(const BYTE* bytes, int count)
{
    // Allocate first: if it throws, the record is unchanged and still deletable.
    BYTE* kept = new BYTE[count];
    std::memcpy(kept, bytes, static_cast<std::size_t>(count));
    if (m_pReceiveBuffer) {
        ReleaseReceiveBuffer();
    } else {
        delete[] m_pData;
    }
    m_pData = kept;
    m_nReceived = count;
    m_bSettled = true;
}

void IPPacket::SetReceived(int bytes)
{
    bytes = std::clamp(bytes, 0, kCapacity);
    if (m_bSettled) {
        // Already holds exactly m_nReceived bytes; a later count can only shrink it.
        assert(!"SetReceived is called once per record");
        m_nReceived = std::min(bytes, m_nReceived);
        return;
    }
    Keep(m_pData, bytes);
}

int IPPacket::GetReceived()
{
    return m_nReceived;
}

int IPPacket::Load(const BYTE* source)
{
    Keep(source, kCapacity);
    return Decode();
}

int IPPacket::Decode()
{
    const ByteReader b(m_pData, static_cast<std::size_t>(m_nReceived));

    ZeroFields();
    m_wVersion = b.u8(0) >> 4;
    m_wHeaderLength = (b.u8(0) & 0x0F) * 4;
    m_wTypeOfService = b.u8(1);
    m_wTotalLength = b.u16(2);
    m_wIdentification = b.u16(4);
    m_wFlags = b.u8(6) >> 5;
    m_wFragmentOffset = b.u16(6) & 0x1FFF;
    m_wTimeToLive = b.u8(8);
    m_wProtocol = b.u8(9);
    m_wChecksum = b.u16(10);
    m_dwSourceAddress = b.u32(12);
    m_dwDestAddress = b.u32(16);

    // Transport bytes start at the stated header length, whatever it is.
    const std::size_t t = m_wHeaderLength;
    switch (m_wProtocol) {
    case kProtocolIgmp:
        m_wSourcePort = b.u16(t);
        m_wDestPort = b.u16(t + 2);
        m_wIgmpType = b.u8(t) & 0x0F;
        m_wIgmpSecondByte = b.u8(t + 1);
        m_wIgmpChecksum = b.u16(t + 2);
        // The group address stays in network byte order: the bytes as they are.
        {
            const BYTE group[4] = {b.u8(t + 4), b.u8(t + 5), b.u8(t + 6), b.u8(t + 7)};
            std::memcpy(&m_dwIgmpGroup, group, sizeof group);
        }
        m_wIgmpVersion = (m_wIgmpType == 1 || m_wIgmpType == 2) ? 1 : 2;
        break;
    case kProtocolTcp:
        m_wSourcePort = m_wTcpSourcePort = b.u16(t);
        m_wDestPort = m_wTcpDestPort = b.u16(t + 2);
        m_dwTcpSequence = b.u32(t + 4);
        m_dwTcpAcknowledgement = b.u32(t + 8);
        m_wTcpDataOffset = b.u8(t + 12) >> 4;
        m_wTcpFlags = b.u16(t + 12) & 0x3F;
        m_wTcpWindow = b.u16(t + 14);
        m_wTcpChecksum = b.u16(t + 16);
        m_wTcpUrgentPointer = b.u16(t + 18);
        break;
    case kProtocolUdp:
        m_wSourcePort = m_wUdpSourcePort = b.u16(t);
        m_wDestPort = m_wUdpDestPort = b.u16(t + 2);
        m_wUdpLength = b.u16(t + 4);
        m_wUdpChecksum = b.u16(t + 6);
        break;
    default:
        break;
    }
    return m_wHeaderLength;
}

const char* IPPacket::GetTimestamp()
{
    return m_szTimestamp;
}

DWORD IPPacket::GetSourceAddress(char* text)
{
    if (text) {
        FormatAddress(m_dwSourceAddress, text);
    }
    return m_dwSourceAddress;
}

DWORD IPPacket::GetDestAddress(char* text)
{
    if (text) {
        FormatAddress(m_dwDestAddress, text);
    }
    return m_dwDestAddress;
}

WORD IPPacket::GetProtocol(char* text)
{
    if (text) {
        std::strcpy(text, ProtocolTable::GetName(m_wProtocol));
    }
    return m_wProtocol;
}

WORD IPPacket::GetSize(char* text)
{
    if (text) {
        std::sprintf(text, "%d", static_cast<int>(m_wTotalLength));
    }
    return m_wTotalLength;
}

WORD IPPacket::GetSourcePort()
{
    return m_wSourcePort;
}

WORD IPPacket::GetDestPort()
{
    return m_wDestPort;
}

void IPPacket::GetInfo(char* text)
{
    if (!text) {
        return;
    }
    text[0] = '\0';
    if (m_wProtocol != kProtocolTcp) {
        return;
    }
    std::strcpy(text, "flags: ");
    for (const FlagName& flag : kFlagNames) {
        if (m_wTcpFlags & flag.wBit) {
            std::strcat(text, flag.pszName);
        }
    }
}

BYTE* IPPacket::GetData()
{
    return m_pData;
}

int IPPacket::GetCapacity()
{
    return kCapacity;
}
