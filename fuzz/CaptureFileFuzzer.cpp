// libFuzzer target for the capture file reader. Each input is a whole file:
// it is written to a temporary file and read to the end as Open does, every
// datagram going into a record as the loader hands it on. Checked on every
// input: a datagram lies within the bytes of its frame (AddressSanitizer sees
// a read past it when the record copies it), is at most 65535 bytes long and
// starts with an IPv4 version nibble; a refused file says why; reading ends.
// A failed check aborts, which libFuzzer reports as a crash with the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "packet/CaptureFileReader.h"
#include "packet/IPPacket.h"

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "capture file fuzz check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::tmpfile();
    if (!file) return 0;
    if (size) std::fwrite(data, 1, size, file);
    std::rewind(file);

    CaptureFileReader reader;
    std::string error;
    if (!reader.Open(file, error)) {
        Require(!error.empty(), "a refused file has a reason");
        return 0;
    }
    CaptureFileReader::Datagram datagram;
    // Every record takes at least 16 bytes of the file, so this bound is never the one that ends a sound read.
    for (std::size_t records = 0; records <= size / 8 + 1; ++records) {
        const CaptureFileReader::Result result = reader.ReadNext(datagram);
        if (result == CaptureFileReader::kEnd) return 0;
        if (result == CaptureFileReader::kDamaged) {
            Require(!reader.GetError().empty(), "damage has a reason");
            return 0;
        }
        Require(datagram.length >= 1 && datagram.length <= IPPacket::kCapacity, "datagram length");
        Require((datagram.bytes[0] >> 4) == 4, "an IPv4 datagram");
        IPPacket packet;
        std::memcpy(packet.GetData(), datagram.bytes, static_cast<std::size_t>(datagram.length));
        packet.SetReceived(datagram.length);
        packet.SetArrivalTime(datagram.fileTime);
        packet.Decode();
        Require(packet.GetReceived() == datagram.length, "the record keeps every byte");
        Require(std::memcmp(packet.GetData(), datagram.bytes, static_cast<std::size_t>(datagram.length)) == 0,
                "the record keeps the bytes");
    }
    Require(false, "reading ends");
    return 0;
}
