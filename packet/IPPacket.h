// The record of one captured IPv4 datagram: its capture time, the bytes
// received and the decoded IPv4 header with the leading IGMP, UDP or TCP
// fields. The engine receives into GetData() and then calls SetReceived, after
// which the record holds exactly the bytes received (see ReceiveBuffer.h).
#pragma once

#include "packet/Packet.h"
#include "platform/WinKernel.h"

class ReceiveBuffer;

class IPPacket : public Packet {
public:
    /// Receive capacity: the largest IPv4 datagram.
    static constexpr int kCapacity = 65535;
    /// Characters of the capture time text including its terminator.
    static constexpr int kTimestampSize = 40;

    /// Stamps the capture time. Throws std::bad_alloc when no receive buffer can be had.
    IPPacket();
    ~IPPacket() override;
    IPPacket(const IPPacket&) = delete;
    IPPacket& operator=(const IPPacket&) = delete;

    int Load(const win::BYTE* source) override;
    int Decode() override;
    const char* GetTimestamp() override;
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
    win::WORD GetVersion() const { return m_wVersion; }
    win::WORD GetHeaderLength() const { return m_wHeaderLength; }
    win::WORD GetTypeOfService() const { return m_wTypeOfService; }
    win::WORD GetIdentification() const { return m_wIdentification; }
    win::WORD GetFlags() const { return m_wFlags; }
    win::WORD GetTimeToLive() const { return m_wTimeToLive; }
    win::WORD GetFragmentOffset() const { return m_wFragmentOffset; }
    win::WORD GetChecksum() const { return m_wChecksum; }
    win::WORD GetIgmpChecksum() const { return m_wIgmpChecksum; }
    win::WORD GetIgmpVersion() const { return m_wIgmpVersion; }
    win::WORD GetIgmpType() const { return m_wIgmpType; }
    win::WORD GetIgmpSecondByte() const { return m_wIgmpSecondByte; }
    win::DWORD GetIgmpGroup() const { return m_dwIgmpGroup; }
    win::WORD GetUdpSourcePort() const { return m_wUdpSourcePort; }
    win::WORD GetUdpDestPort() const { return m_wUdpDestPort; }
    win::WORD GetUdpLength() const { return m_wUdpLength; }
    win::WORD GetUdpChecksum() const { return m_wUdpChecksum; }
    win::WORD GetTcpSourcePort() const { return m_wTcpSourcePort; }
    win::WORD GetTcpDestPort() const { return m_wTcpDestPort; }
    win::WORD GetTcpDataOffset() const { return m_wTcpDataOffset; }
    win::WORD GetTcpFlags() const { return m_wTcpFlags; }
    win::WORD GetTcpWindow() const { return m_wTcpWindow; }
    win::WORD GetTcpChecksum() const { return m_wTcpChecksum; }
    win::WORD GetTcpUrgentPointer() const { return m_wTcpUrgentPointer; }
    win::DWORD GetTcpSequence() const { return m_dwTcpSequence; }
    win::DWORD GetTcpAcknowledgement() const { return m_dwTcpAcknowledgement; }

private:
    void ZeroFields();
    /// Replaces the held bytes by an exact-size copy of bytes[0, count).
    void Keep(const win::BYTE* bytes, int count);
    void ReleaseReceiveBuffer();

    // IPv4 header.
    win::WORD m_wVersion;
    win::WORD m_wHeaderLength;
    win::WORD m_wTypeOfService;
    win::WORD m_wTotalLength;
    win::WORD m_wIdentification;
    win::WORD m_wFlags;
    win::WORD m_wTimeToLive;
    win::WORD m_wFragmentOffset;
    win::WORD m_wProtocol;
    win::WORD m_wChecksum;
    win::WORD m_wSourcePort;
    win::WORD m_wDestPort;
    win::DWORD m_dwSourceAddress;
    win::DWORD m_dwDestAddress;
    // IGMP.
    win::WORD m_wIgmpChecksum;
    win::WORD m_wIgmpVersion;
    win::WORD m_wIgmpType;
    win::WORD m_wIgmpSecondByte;
    win::DWORD m_dwIgmpGroup;
    // UDP.
    win::WORD m_wUdpSourcePort;
    win::WORD m_wUdpDestPort;
    win::WORD m_wUdpLength;
    win::WORD m_wUdpChecksum;
    // TCP.
    win::WORD m_wTcpSourcePort;
    win::WORD m_wTcpDestPort;
    win::WORD m_wTcpDataOffset;
    win::WORD m_wTcpFlags;
    win::WORD m_wTcpWindow;
    win::WORD m_wTcpChecksum;
    win::WORD m_wTcpUrgentPointer;
    win::DWORD m_dwTcpSequence;
    win::DWORD m_dwTcpAcknowledgement;

    char m_szTimestamp[kTimestampSize];

    // The raw datagram. Until SetReceived (m_bSettled false) a block of
    // ReceiveBuffer::kSize bytes to receive into: the thread's lent buffer when
    // m_pReceiveBuffer is set, otherwise a block of our own. Afterwards exactly
    // m_nReceived bytes of our own. m_pData is ours to delete[] whenever
    // m_pReceiveBuffer is null.
    win::BYTE* m_pData;
    ReceiveBuffer* m_pReceiveBuffer;
    bool m_bSettled;
    int m_nReceived;
};
