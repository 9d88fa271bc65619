// Dotted IPv4 address text (inet_addr, inet_ntoa) and byte-order conversion.
// inet_addr takes the classic forms Windows takes: one to four parts, each in
// decimal, octal (leading 0) or hexadecimal (leading 0x); the last part fills
// the remaining bytes ("10.1" is 10.0.0.1).
#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/WinSock.h"

namespace win {

namespace {
// Reads one part at text; advances text past it. False when no digits or an
// out-of-range value are found.
bool ReadPart(const char*& text, unsigned long long& value) {
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    } else if (text[0] == '0') {
        base = 8;
    }
    const char* start = text;
    value = 0;
    for (;; ++text) {
        unsigned digit;
        char c = *text;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull) return false;
    }
    return text != start;
}

u_short Swap(u_short value) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(value);
    return value;
}

u_long Swap(u_long value) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(value);
    return value;
}
}  // namespace

u_long inet_addr(const char* text) {
    if (text == nullptr) return INADDR_NONE;
    unsigned long long parts[4];
    int count = 0;
    for (;;) {
        if (count == 4 || !ReadPart(text, parts[count])) return INADDR_NONE;
        ++count;
        if (*text == '\0') break;
        if (*text != '.') return INADDR_NONE;
        ++text;
    }
    // Every part but the last is one byte; the last fills what is left.
    unsigned long long value = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return INADDR_NONE;
        value |= parts[i] << (24 - 8 * i);
    }
    unsigned long long lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
    if (parts[count - 1] > lastLimit) return INADDR_NONE;
    value |= parts[count - 1];
    return htonl(static_cast<u_long>(value));
}

char* inet_ntoa(in_addr address) {
    thread_local char text[16];
    unsigned char bytes[4];
    std::memcpy(bytes, &address.s_addr, sizeof bytes);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

u_short htons(u_short value) { return Swap(value); }
u_short ntohs(u_short value) { return Swap(value); }
u_long htonl(u_long value) { return Swap(value); }
u_long ntohl(u_long value) { return Swap(value); }

}  // namespace win
