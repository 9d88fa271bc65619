// The abstract packet record: the interface through which the engine, the
// list view and the detail window see one captured IPv4 datagram. Text
// operations write a terminated text into the caller's buffer and return the
// underlying value; a null buffer asks for the value only.
#pragma once

#include "platform/WinTypes.h"

class Packet {
public:
    virtual ~Packet() {}

    /// Copies exactly GetCapacity() bytes from source into the record (all of
    /// them count as received), then decodes. Returns the header length in bytes.
    virtual int Load(const win::BYTE* source) = 0;
    /// Decodes the received bytes into the header fields. Returns the header length in bytes.
    virtual int Decode() = 0;
    /// The capture time text "hh:mm:ss:mmm" in local time, valid for the record's life.
    virtual const char* GetTimestamp() = 0;
    /// The datagram's arrival time as a file time (100-nanosecond intervals since
    /// 1601-01-01 UTC).
    virtual win::ULONGLONG GetArrivalTime() = 0;
    /// Source address in host order; text "%d.%d.%d.%d" (at most 15 characters).
    virtual win::DWORD GetSourceAddress(char* text) = 0;
    /// Destination address in host order; text "%d.%d.%d.%d" (at most 15 characters).
    virtual win::DWORD GetDestAddress(char* text) = 0;
    /// Protocol number; text the protocol's name (at most 29 characters).
    virtual win::WORD GetProtocol(char* text) = 0;
    /// Total length stated by the IPv4 header; text in decimal (at most 5 characters).
    virtual win::WORD GetSize(char* text) = 0;
    /// Transport source port (IGMP, TCP and UDP only; otherwise 0).
    virtual win::WORD GetSourcePort() = 0;
    /// Transport destination port (IGMP, TCP and UDP only; otherwise 0).
    virtual win::WORD GetDestPort() = 0;
    /// Info text: the TCP flags, empty for other protocols (at most 31 characters).
    virtual void GetInfo(char* text) = 0;
    /// The raw datagram. Before SetReceived: a buffer of GetCapacity() bytes to
    /// receive into. After it: exactly GetReceived() bytes.
    virtual win::BYTE* GetData() = 0;
    /// Number of bytes a receive may write into GetData(): 65535.
    virtual int GetCapacity() = 0;

    /// Records how many bytes the receive wrote into GetData(). Called once,
    /// right after the receive, on the thread that created the record. From then
    /// on the record keeps only those bytes, and every byte past them reads as zero.
    virtual void SetReceived(int bytes) = 0;
    /// Number of bytes received (0 until SetReceived or Load). A dump of the raw
    /// datagram stops at the smaller of this and the total length.
    virtual int GetReceived() = 0;
};
