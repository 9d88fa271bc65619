// libFuzzer target for the packet record and the detail window's dump. Each
// input is one datagram as received. It is handed to a record the way the
// engine does (into GetData(), then SetReceived) and, padded with zeros, the
// way Load does; both must decode alike. Checked on every input:
// - every text operation writes a terminated text of at most its documented
//   length into a heap buffer of exactly that length plus the terminator, so
//   AddressSanitizer reports any write past it;
// - the values match a plain big-endian reading of the bytes, with bytes past
//   those received read as zero;
// - the dump of min(total length, bytes received) bytes has the length the
//   line layout gives (a tab, then per line of k bytes: a line break, 59
//   characters, a tab and k characters) and shows each byte in hexadecimal
//   and as a character in its place.
// A failed check aborts, which libFuzzer reports as a crash with the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "packet/IPPacket.h"
#include "ui/PacketDump.h"

namespace {

// Longest texts, without the terminator, as the record documents them.
constexpr std::size_t kAddressText = 15;
constexpr std::size_t kProtocolText = 29;
constexpr std::size_t kSizeText = 5;
constexpr std::size_t kInfoText = 31;
constexpr std::size_t kTimestampText = 12;  // "hh:mm:ss:mmm" in a 40-character field

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "packet fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Runs a text operation into a buffer of exactly longest + 1 characters and
// returns the text.
template <typename Operation>
std::string TextOf(Operation operation, std::size_t longest, const char* what)
{
    std::unique_ptr<char[]> buffer(new char[longest + 1]);
    std::memset(buffer.get(), 0x7F, longest + 1);
    operation(buffer.get());
    Require(std::memchr(buffer.get(), '\0', longest + 1) != nullptr, what);
    return std::string(buffer.get());
}

struct Texts {
    std::string source, dest, protocol, size, info;
    unsigned long sourceAddress, destAddress;
    unsigned protocolNumber, totalLength, sourcePort, destPort;
};

Texts Read(Packet& packet)
{
    Texts t;
    t.source = TextOf([&](char* b) { t.sourceAddress = packet.GetSourceAddress(b); }, kAddressText, "source address text");
    t.dest = TextOf([&](char* b) { t.destAddress = packet.GetDestAddress(b); }, kAddressText, "destination address text");
    t.protocol = TextOf([&](char* b) { t.protocolNumber = packet.GetProtocol(b); }, kProtocolText, "protocol text");
    t.size = TextOf([&](char* b) { t.totalLength = packet.GetSize(b); }, kSizeText, "size text");
    t.info = TextOf([&](char* b) { packet.GetInfo(b); }, kInfoText, "info text");
    t.sourcePort = packet.GetSourcePort();
    t.destPort = packet.GetDestPort();
    Require(packet.GetSourceAddress(nullptr) == t.sourceAddress && packet.GetSize(nullptr) == t.totalLength,
            "a null buffer gives the same value");
    return t;
}

std::string Dotted(unsigned long address)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

void CheckAgainstBytes(const Texts& t, const std::uint8_t* data, std::size_t size)
{
    auto byte = [&](std::size_t i) -> unsigned { return i < size ? data[i] : 0; };
    auto be16 = [&](std::size_t i) { return (byte(i) << 8) | byte(i + 1); };
    auto be32 = [&](std::size_t i) { return (static_cast<unsigned long>(be16(i)) << 16) | be16(i + 2); };
    Require(t.totalLength == be16(2), "total length is bytes 2-3");
    Require(t.size == std::to_string(t.totalLength), "size text is the total length in decimal");
    Require(t.protocolNumber == byte(9), "protocol is byte 9");
    Require(t.sourceAddress == be32(12) && t.source == Dotted(t.sourceAddress), "source address is bytes 12-15");
    Require(t.destAddress == be32(16) && t.dest == Dotted(t.destAddress), "destination address is bytes 16-19");
    const std::size_t transport = (byte(0) & 0x0F) * 4u;
    const bool ports = t.protocolNumber == 2 || t.protocolNumber == 6 || t.protocolNumber == 17;
    Require(t.sourcePort == (ports ? be16(transport) : 0u), "source port");
    Require(t.destPort == (ports ? be16(transport + 2) : 0u), "destination port");
    Require(t.protocolNumber == 6 ? t.info.rfind("flags: ", 0) == 0 : t.info.empty(), "info text only for TCP");
}

char Printable(std::uint8_t b)
{
    return b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
}

void CheckDump(const std::uint8_t* bytes, int count)
{
    std::string dump;
    PacketDump::Build(bytes, count, dump);
    std::size_t expected = 1;
    for (int line = 0; line < count; line += 16) {
        expected += 2 + 59 + 1 + static_cast<std::size_t>(count - line < 16 ? count - line : 16);
    }
    Require(dump.size() == expected, "dump length");
    Require(!dump.empty() && dump[0] == '\t', "the dump starts with a tab");
    std::size_t at = 1;
    for (int line = 0; line < count; line += 16) {
        const int inLine = count - line < 16 ? count - line : 16;
        Require(dump.compare(at, 2, "\r\n") == 0, "each line starts with a line break");
        at += 2;
        char offset[16];
        std::snprintf(offset, sizeof offset, "%08X ", static_cast<unsigned>(line));
        Require(dump.compare(at, 9, offset) == 0, "offset");
        Require(dump[at + 59] == '\t', "59 characters before the tab");
        for (int k = 0; k < inLine; ++k) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", bytes[line + k]);
            const std::size_t column = at + 9 + 1 + static_cast<std::size_t>(k) * 3 + (k >= 8 ? 1 : 0);
            Require(dump.compare(column, 2, hex) == 0, "byte in hexadecimal");
            Require(dump[at + 60 + static_cast<std::size_t>(k)] == Printable(bytes[line + k]), "byte as a character");
        }
        at += 60 + static_cast<std::size_t>(inLine);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // As the engine hands it over: received into the record, then settled.
    IPPacket received;
    const int capacity = received.GetCapacity();
    const int count = size < static_cast<std::size_t>(capacity) ? static_cast<int>(size) : capacity;
    if (count > 0) {
        std::memcpy(received.GetData(), data, static_cast<std::size_t>(count));
    }
    received.SetReceived(count);
    Require(received.GetReceived() == count, "bytes received");
    const int headerLength = received.Decode();
    Require(headerLength == (count > 0 ? (data[0] & 0x0F) * 4 : 0), "header length");
    const Texts fromReceive = Read(received);
    CheckAgainstBytes(fromReceive, data, static_cast<std::size_t>(count));
    const char* stamp = received.GetTimestamp();
    Require(std::strlen(stamp) == kTimestampText && stamp[2] == ':' && stamp[5] == ':' && stamp[8] == ':',
            "capture time text");

    // As Load takes it: capacity bytes, the datagram's followed by zeros.
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(capacity), 0);
    if (count > 0) {
        std::memcpy(padded.data(), data, static_cast<std::size_t>(count));
    }
    IPPacket loaded;
    Require(loaded.Load(padded.data()) == headerLength, "Load decodes as the receive does");
    const Texts fromLoad = Read(loaded);
    Require(fromLoad.source == fromReceive.source && fromLoad.dest == fromReceive.dest &&
                fromLoad.protocol == fromReceive.protocol && fromLoad.size == fromReceive.size &&
                fromLoad.info == fromReceive.info && fromLoad.sourcePort == fromReceive.sourcePort &&
                fromLoad.destPort == fromReceive.destPort,
            "the same texts after Load as after a receive");

    // The detail window dumps min(total length, bytes received).
    const int dumped = static_cast<int>(fromReceive.totalLength) < count ? static_cast<int>(fromReceive.totalLength) : count;
    CheckDump(received.GetData(), dumped);
    return 0;
}
