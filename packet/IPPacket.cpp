// Decoding and text forms of the IPv4 record. Every header byte is read
// through ByteReader over the bytes received, so a datagram shorter than its
// headers claim decodes its missing bytes as zero.
//
// Storage. A record is a 32-byte slot of one slab shared by all records; its
// datagram lives in the byte arena when it is small (the common case: a few
// dozen to 1,500 bytes) and in a heap block of its own when it is larger. The
// header fields are read from the kept bytes when asked for rather than copied
// into members, so that a record costs little more than its datagram.
#include "packet/IPPacket.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

#include "packet/ByteArena.h"
#include "packet/PacketSlab.h"
#include "packet/ProtocolTable.h"
#include "packet/ReceiveBuffer.h"

using namespace win;

namespace {

constexpr WORD kProtocolIgmp = 2;
constexpr WORD kProtocolTcp = 6;
constexpr WORD kProtocolUdp = 17;

struct FlagName {
    WORD wBit;
    const char* pszName;
};

// The order in which the info text lists the flags.
const FlagName kFlagNames[] = {
    {0x02, "SYN "}, {0x10, "ACK "}, {0x04, "RST "}, {0x01, "FIN "}, {0x20, "URG "}, {0x08, "PSH "},
};

// Dotted decimal, most significant byte first: what "%d.%d.%d.%d" gives, without
// the cost of a format string on every row.
void FormatAddress(DWORD address, char* text)
{
    char* p = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        p = std::to_chars(p, p + 3, (address >> shift) & 0xFF).ptr;
        *p++ = shift ? '.' : '\0';
    }
}

// Both live until the process ends: records may be deleted during static destruction.
PacketSlab& Slab()
{
    static PacketSlab* slab = new PacketSlab(sizeof(IPPacket));
    return *slab;
}

ByteArena& Arena()
{
    static ByteArena* arena = new ByteArena;
    return *arena;
}

bool CarriesPorts(WORD protocol)
{
    return protocol == kProtocolIgmp || protocol == kProtocolTcp || protocol == kProtocolUdp;
}

}  // namespace

static_assert(sizeof(IPPacket) == 40, "a record is 40 bytes besides its datagram");

void* IPPacket::operator new(std::size_t size)
{
    // A derived record with members of its own does not fit a slot.
    if (size != sizeof(IPPacket)) return ::operator new(size);
    return Slab().Allocate();
}

void IPPacket::operator delete(void* memory, std::size_t size)
{
    if (size != sizeof(IPPacket)) {
        ::operator delete(memory);
        return;
    }
    Slab().Free(memory);
}

const PacketSlab& IPPacket::GetSlab()
{
    return Slab();
}

const ByteArena& IPPacket::GetArena()
{
    return Arena();
}

IPPacket::IPPacket() : IPPacket(ArrivalSetLater{})
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetArrivalTime((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

IPPacket::IPPacket(ArrivalSetLater) : m_ullArrival(0), m_pData(nullptr), m_wReceived(0), m_bState(0)
{
    m_szTimestamp[0] = '\0';
    if (ReceiveBuffer* lent = ReceiveBuffer::Borrow()) {
        m_pData = lent->GetBytes();
        m_bState = kLent;
    } else {
        m_pData = new BYTE[ReceiveBuffer::kSize];
        m_bState = kHeap;
    }
}

ULONGLONG IPPacket::GetArrivalTime()
{
    return m_ullArrival;
}

void IPPacket::SetArrivalTime(ULONGLONG fileTime)
{
    m_ullArrival = fileTime;
    const FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    FILETIME local;
    SYSTEMTIME fields{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) fields = SYSTEMTIME{};
    char text[kTimestampSize];
    FormatTimestamp(fields, text);
    std::memcpy(m_szTimestamp, text, kTimestampLength);
    m_szTimestamp[kTimestampLength] = '\0';
}

IPPacket::~IPPacket()
{
    FreeData();
}

void IPPacket::FreeData()
{
    if (m_bState & kLent) {
        ReceiveBuffer::Mine()->Return();
    } else if (m_bState & kHeap) {
        delete[] m_pData;
    } else if (m_bState & kArena) {
        Arena().Free(m_pData);
    }
    m_pData = nullptr;
    m_bState &= ~(kLent | kHeap | kArena);
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

void IPPacket::Keep(const BYTE* bytes, int count)
{
    // Allocate first: if it throws, the record is unchanged and still deletable.
    BYTE* kept = nullptr;
    BYTE where = 0;
    if (count > 0 && static_cast<std::size_t>(count) <= ByteArena::kMaxBlock) {
        kept = static_cast<BYTE*>(Arena().Allocate(static_cast<std::size_t>(count)));
        where = kArena;
    } else if (count > 0) {
        kept = new BYTE[count];
        where = kHeap;
    }
    if (count > 0) std::memcpy(kept, bytes, static_cast<std::size_t>(count));
    FreeData();
    m_pData = kept;
    m_bState |= where | kSettled;
    m_wReceived = static_cast<WORD>(count);
}

void IPPacket::SetReceived(int bytes)
{
    bytes = std::clamp(bytes, 0, kCapacity);
    if (m_bState & kSettled) {
        // Already holds exactly m_wReceived bytes; a later count can only shrink it.
        assert(!"SetReceived is called once per record");
        m_wReceived = static_cast<WORD>(std::min<int>(bytes, m_wReceived));
        return;
    }
    Keep(m_pData, bytes);
}

int IPPacket::GetReceived()
{
    return m_wReceived;
}

int IPPacket::Load(const BYTE* source)
{
    Keep(source, kCapacity);
    return Decode();
}

int IPPacket::Decode()
{
    m_bState |= kDecoded;
    return HeaderLength();
}

ByteReader IPPacket::Bytes() const
{
    return ByteReader(m_pData, (m_bState & kDecoded) ? m_wReceived : 0);
}

WORD IPPacket::HeaderLength() const
{
    return static_cast<WORD>((Bytes().u8(0) & 0x0F) * 4);
}

WORD IPPacket::Protocol() const
{
    return Bytes().u8(9);
}

// IPv4 header.
WORD IPPacket::GetVersion() const { return Bytes().u8(0) >> 4; }
WORD IPPacket::GetHeaderLength() const { return HeaderLength(); }
WORD IPPacket::GetTypeOfService() const { return Bytes().u8(1); }
WORD IPPacket::GetIdentification() const { return Bytes().u16(4); }
WORD IPPacket::GetFlags() const { return Bytes().u8(6) >> 5; }
WORD IPPacket::GetTimeToLive() const { return Bytes().u8(8); }
WORD IPPacket::GetFragmentOffset() const { return Bytes().u16(6) & 0x1FFF; }
WORD IPPacket::GetChecksum() const { return Bytes().u16(10); }

// IGMP: filled for protocol 2 only; transport bytes start at the stated header
// length, whatever it is.
WORD IPPacket::GetIgmpChecksum() const { return Protocol() == kProtocolIgmp ? Bytes().u16(HeaderLength() + 2u) : 0; }
WORD IPPacket::GetIgmpType() const { return Protocol() == kProtocolIgmp ? Bytes().u8(HeaderLength()) & 0x0F : 0; }
WORD IPPacket::GetIgmpSecondByte() const { return Protocol() == kProtocolIgmp ? Bytes().u8(HeaderLength() + 1u) : 0; }

WORD IPPacket::GetIgmpVersion() const
{
    if (Protocol() != kProtocolIgmp) return 0;
    const WORD type = GetIgmpType();
    return (type == 1 || type == 2) ? 1 : 2;
}

DWORD IPPacket::GetIgmpGroup() const
{
    if (Protocol() != kProtocolIgmp) return 0;
    // The group address stays in network byte order: the bytes as they are.
    const ByteReader b = Bytes();
    const std::size_t t = HeaderLength();
    const BYTE group[4] = {b.u8(t + 4), b.u8(t + 5), b.u8(t + 6), b.u8(t + 7)};
    DWORD value;
    std::memcpy(&value, group, sizeof value);
    return value;
}

// UDP: protocol 17 only.
WORD IPPacket::GetUdpSourcePort() const { return Protocol() == kProtocolUdp ? Bytes().u16(HeaderLength()) : 0; }
WORD IPPacket::GetUdpDestPort() const { return Protocol() == kProtocolUdp ? Bytes().u16(HeaderLength() + 2u) : 0; }
WORD IPPacket::GetUdpLength() const { return Protocol() == kProtocolUdp ? Bytes().u16(HeaderLength() + 4u) : 0; }
WORD IPPacket::GetUdpChecksum() const { return Protocol() == kProtocolUdp ? Bytes().u16(HeaderLength() + 6u) : 0; }

// TCP: protocol 6 only.
WORD IPPacket::GetTcpSourcePort() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength()) : 0; }
WORD IPPacket::GetTcpDestPort() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength() + 2u) : 0; }
WORD IPPacket::GetTcpDataOffset() const { return Protocol() == kProtocolTcp ? Bytes().u8(HeaderLength() + 12u) >> 4 : 0; }
WORD IPPacket::GetTcpFlags() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength() + 12u) & 0x3F : 0; }
WORD IPPacket::GetTcpWindow() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength() + 14u) : 0; }
WORD IPPacket::GetTcpChecksum() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength() + 16u) : 0; }
WORD IPPacket::GetTcpUrgentPointer() const { return Protocol() == kProtocolTcp ? Bytes().u16(HeaderLength() + 18u) : 0; }
DWORD IPPacket::GetTcpSequence() const { return Protocol() == kProtocolTcp ? Bytes().u32(HeaderLength() + 4u) : 0; }
DWORD IPPacket::GetTcpAcknowledgement() const { return Protocol() == kProtocolTcp ? Bytes().u32(HeaderLength() + 8u) : 0; }

const char* IPPacket::GetTimestamp()
{
    return m_szTimestamp;
}

DWORD IPPacket::GetSourceAddress(char* text)
{
    const DWORD address = Bytes().u32(12);
    if (text) {
        FormatAddress(address, text);
    }
    return address;
}

DWORD IPPacket::GetDestAddress(char* text)
{
    const DWORD address = Bytes().u32(16);
    if (text) {
        FormatAddress(address, text);
    }
    return address;
}

WORD IPPacket::GetProtocol(char* text)
{
    const WORD protocol = Protocol();
    if (text) {
        std::strcpy(text, ProtocolTable::GetName(protocol));
    }
    return protocol;
}

WORD IPPacket::GetSize(char* text)
{
    const WORD size = Bytes().u16(2);
    if (text) {
        *std::to_chars(text, text + 5, size).ptr = '\0';
    }
    return size;
}

WORD IPPacket::GetSourcePort()
{
    return CarriesPorts(Protocol()) ? Bytes().u16(HeaderLength()) : 0;
}

WORD IPPacket::GetDestPort()
{
    return CarriesPorts(Protocol()) ? Bytes().u16(HeaderLength() + 2u) : 0;
}

void IPPacket::GetInfo(char* text)
{
    if (!text) {
        return;
    }
    text[0] = '\0';
    if (Protocol() != kProtocolTcp) {
        return;
    }
    std::strcpy(text, "flags: ");
    const WORD flags = GetTcpFlags();
    for (const FlagName& flag : kFlagNames) {
        if (flags & flag.wBit) {
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
