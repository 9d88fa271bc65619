// The dump text of the detail window: see PacketDump.h. The text is written
// straight into a buffer of its exact length, since a 65,535-byte datagram
// gives over 320,000 characters and the window builds it on every refresh.
#include "ui/PacketDump.h"

using namespace win;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr int kBytesPerLine = 16;
// "\r\n", the 59 characters before the tab, the tab: 62 per line besides the
// characters themselves.
constexpr int kLineOverhead = 2 + PacketDump::kLineWidth + 1;

// Printable characters are 0x20 (the blank) to 0x7E; every other byte shows as a full stop.
char Printable(BYTE b) { return b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.'; }

}  // namespace

std::size_t PacketDump::Length(int count) {
    if (count <= 0) return 1;
    const std::size_t lines = (static_cast<std::size_t>(count) + kBytesPerLine - 1) / kBytesPerLine;
    return 1 + lines * kLineOverhead + static_cast<std::size_t>(count);
}

void PacketDump::Build(const BYTE* bytes, int count, std::string& text) {
    if (count < 0 || !bytes) count = 0;
    text.resize(Length(count));
    char* out = text.data();
    // The characters of a line follow its tab; they are written once the line
    // is known complete, from the bytes themselves, so no separate column
    // buffer is kept.
    *out++ = '\t';
    for (int line = 0; line < count; line += kBytesPerLine) {
        const int inLine = count - line < kBytesPerLine ? count - line : kBytesPerLine;
        *out++ = '\r';
        *out++ = '\n';
        // "%0.8X ": the offset in eight upper-case hexadecimal digits, then a blank.
        for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHex[(static_cast<unsigned>(line) >> shift) & 0xF];
        *out++ = ' ';
        for (int k = 0; k < inLine; ++k) {
            if (k % 8 == 0) *out++ = ' ';
            const BYTE b = bytes[line + k];
            *out++ = kHex[b >> 4];
            *out++ = kHex[b & 0xF];
            *out++ = ' ';
        }
        if (inLine < kBytesPerLine) {
            // Three blanks per missing byte, and the blank that would have
            // started the second group if the line ends in the first.
            int filler = 3 * (kBytesPerLine - inLine) + (inLine <= 8 ? 1 : 0);
            while (filler-- > 0) *out++ = ' ';
        }
        *out++ = '\t';
        for (int k = 0; k < inLine; ++k) *out++ = Printable(bytes[line + k]);
    }
}
