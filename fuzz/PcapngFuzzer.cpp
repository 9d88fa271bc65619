// libFuzzer target for the reader of the capture helper's pcapng stream, which
// parses bytes another process wrote. The first byte of an input picks how
// the rest is split into pieces as they would come off the channel; the rest
// is the stream. Checked on every input:
// - every datagram handed out lies wholly inside what was fed, and is never
//   longer than a block may be;
// - the same stream gives the same datagrams, drop count and verdict however
//   it is split;
// - once broken, the reader stays broken and hands out nothing more.
// A failed check aborts, which libFuzzer reports as a crash with the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/PcapngStream.h"

namespace {
using win::detail::PcapngStream;

constexpr std::size_t kRoom = 1u << 16;

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Outcome {
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::uint64_t dropped = 0;
    bool broken = false;
};

Outcome Read(const std::uint8_t* data, std::size_t size, std::size_t piece) {
    PcapngStream reader(kRoom);
    Outcome outcome;
    std::size_t at = 0;
    for (;;) {
        PcapngStream::Datagram datagram;
        while (reader.Next(&datagram)) {
            Check(!outcome.broken);
            Check(datagram.length < PcapngStream::kMaxBlock);
            outcome.datagrams.emplace_back(datagram.bytes, datagram.bytes + datagram.length);
        }
        if (reader.IsBroken()) {
            outcome.broken = true;
            Check(!reader.Next(&datagram));
            break;
        }
        if (at == size) break;
        Check(reader.WriteSpace() >= kRoom);
        const std::size_t count = std::min({piece, size - at, reader.WriteSpace()});
        std::memcpy(reader.WritePointer(), data + at, count);
        reader.Commit(count);
        at += count;
    }
    outcome.dropped = reader.GetDropped();
    return outcome;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 97;
    const Outcome split = Read(data + 1, size - 1, piece);
    const Outcome whole = Read(data + 1, size - 1, size);
    Check(split.broken == whole.broken);
    Check(split.dropped == whole.dropped);
    Check(split.datagrams == whole.datagrams);
    return 0;
}
