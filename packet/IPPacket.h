// The record of one captured IPv4 datagram: its capture time, the bytes
// received and the decoded IPv4 header with the leading IGMP, UDP or TCP
// fields. The engine receives into GetData() and then calls SetReceived, after
// which the record holds exactly the bytes received (see ReceiveBuffer.h):
// small datagrams in the byte arena (ByteArena.h), large ones in a block of
// their own.
#pragma once

#include <cstddef>

#include "packet/ByteArena.h"
#include "packet/ByteReader.h"
#include "packet/Packet.h"
#include "packet/PacketSlab.h"
#include "platform/WinKernel.h"

class IPPacket : public Packet {
public:
    /// Receive capacity: the largest IPv4 datagram.
    static constexpr int kCapacity = 65535;
    /// Characters of a buffer for FormatTimestamp, terminator included.
    static constexpr int kTimestampSize = 40;
    /// Characters of the capture time text "hh:mm:ss:mmm".
    static constexpr int kTimestampLength = 12;

    /// Stamps the time of creation as the arrival time, until SetArrivalTime.
    /// Throws std::bad_alloc when no receive buffer can be had.
    IPPacket();
    /// For a record whose arrival time the creator sets with SetArrivalTime
    /// before anyone reads it (a receive, a file): the clock is not read, and
    /// the time reads as zero until then.
    struct ArrivalSetLater {};
    explicit IPPacket(ArrivalSetLater);
    ~IPPacket() override;
    IPPacket(const IPPacket&) = delete;
    IPPacket& operator=(const IPPacket&) = delete;

    int Load(const win::BYTE* source) override;
    int Decode() override;
    const char* GetTimestamp() override;
    win::ULONGLONG GetArrivalTime() override;
    /// Sets the arrival time (a file time) and the capture time text from it.
    void SetArrivalTime(win::ULONGLONG fileTime);
    win::DWORD GetSourceAddress(char* text) override;
    win::DWORD GetDestAddress(char* text) override;
    win::WORD GetProtocol(char* text) override;
    win::WORD GetSize(char* text) override;
    win::WORD GetSourcePort() override;
    win::WORD GetDestPort() override;
    void GetInfo(char* text) override;
    win::BYTE* GetData() override;
    int GetCapacity() override;
    void SetReceived(int bytes) override;
    int GetReceived() override;

    /// Writes "hh:mm:ss:mmm" for the time into text (kTimestampSize characters).
    static void FormatTimestamp(const win::SYSTEMTIME& time, char* text);

    // Decoded fields that no Packet operation returns.
    win::WORD GetVersion() const;
    win::WORD GetHeaderLength() const;
    win::WORD GetTypeOfService() const;
    win::WORD GetIdentification() const;
    win::WORD GetFlags() const;
    win::WORD GetTimeToLive() const;
    win::WORD GetFragmentOffset() const;
    win::WORD GetChecksum() const;
    win::WORD GetIgmpChecksum() const;
    win::WORD GetIgmpVersion() const;
    win::WORD GetIgmpType() const;
    win::WORD GetIgmpSecondByte() const;
    win::DWORD GetIgmpGroup() const;
    win::WORD GetUdpSourcePort() const;
    win::WORD GetUdpDestPort() const;
    win::WORD GetUdpLength() const;
    win::WORD GetUdpChecksum() const;
    win::WORD GetTcpSourcePort() const;
    win::WORD GetTcpDestPort() const;
    win::WORD GetTcpDataOffset() const;
    win::WORD GetTcpFlags() const;
    win::WORD GetTcpWindow() const;
    win::WORD GetTcpChecksum() const;
    win::WORD GetTcpUrgentPointer() const;
    win::DWORD GetTcpSequence() const;
    win::DWORD GetTcpAcknowledgement() const;

    /// Records are cut from a slab (see PacketSlab.h): created with new and
    /// deleted through the virtual destructor as before, but with no heap
    /// header per record. Throws std::bad_alloc when memory has run out.
    static void* operator new(std::size_t size);
    static void operator delete(void* memory, std::size_t size);
    /// Where records and their bytes live (for measurements).
    static const PacketSlab& GetSlab();
    static const ByteArena& GetArena();

private:
    // What m_pData points to and how far the record has come.
    enum State : win::BYTE {
        kLent = 0x01,     // the thread's receive buffer (before SetReceived)
        kHeap = 0x02,     // a block of our own from new[]
        kArena = 0x04,    // a block of the byte arena
        kSettled = 0x08,  // SetReceived or Load has run: m_pData holds exactly the bytes received
        kDecoded = 0x10,  // Decode has run: the header fields read from the bytes
    };

    /// The received bytes, read through the bounds-checked reader; nothing
    /// before Decode, so that every field reads as zero until then.
    ByteReader Bytes() const;
    win::WORD HeaderLength() const;
    win::WORD Protocol() const;
    /// Replaces the held bytes by an exact-size copy of bytes[0, count).
    void Keep(const win::BYTE* bytes, int count);
    void FreeData();

    // The decoded header is not copied out of the datagram: every field is
    // read from the bytes kept, which is what decoding them once would give
    // and costs a few byte reads. A record is 40 bytes besides its datagram.
    win::ULONGLONG m_ullArrival;
    win::BYTE* m_pData;
    win::WORD m_wReceived;
    win::BYTE m_bState;
    char m_szTimestamp[kTimestampLength + 1];
};
