// OutputDebugStringA: the debugger trace. Linux has no debugger channel to
// write it to, so it is debug output on standard error, written only when the
// environment asks for it with QUORVANE_DEBUG=1: a program started from a
// terminal says nothing otherwise. It goes in one write per call, so that
// lines from several threads do not interleave. A trace
// line may carry text from outside the program (the stored setting), so
// control characters, DEL, C1 controls and bytes that are not UTF-8 are
// written as \xNN, and a backslash as \\: such text cannot move the cursor,
// start an escape sequence or forge a line of its own on a terminal. A line
// break at the very end is the line's own and stays.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/WinKernel.h"

namespace win {
namespace {

/// Length of the well-formed UTF-8 sequence at text (not a C1 control), else 0.
std::size_t Utf8Length(const unsigned char* text, std::size_t left) {
    const unsigned char c = text[0];
    std::size_t length = 0;
    unsigned long code = 0;
    if (c >= 0xC2 && c <= 0xDF) length = 2, code = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) length = 3, code = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) length = 4, code = c & 0x07;
    else return 0;
    if (left < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (text[i] & 0x3F);
    }
    const unsigned long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code >= 0x80 && code <= 0x9F) return 0;  // C1 controls
    return length;
}

std::string Escape(const char* text) {
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t size = std::strlen(text);
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        if (c == '\n' && i + 1 == size) {
            out += '\n';
            ++i;
        } else if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = c >= 0x80 ? Utf8Length(bytes + i, size - i) : 0) {
            out.append(text + i, n);
            i += n;
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
            ++i;
        }
    }
    return out;
}

bool DebugOutputWanted() {
    // Read at each call: a trace line is rare, and tests switch it per case.
    const char* wanted = std::getenv("QUORVANE_DEBUG");
    return wanted != nullptr && std::strcmp(wanted, "1") == 0;
}

}  // namespace

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr || !DebugOutputWanted()) return;
    const std::string line = Escape(text);
    const char* rest = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, rest, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nobody to tell
        }
        rest += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace win
