// The hexadecimal and character dump of a datagram's bytes as the detail
// window shows it: a leading line holding only a tab, then one line per 16
// bytes with the offset, two groups of eight byte values and, after a tab, the
// bytes as characters. Every offset line is 59 characters long before its tab,
// so the character columns line up. Kept apart from the window so that it can
// be built and measured without one.
#pragma once

#include <string>

#include "platform/WinTypes.h"

class PacketDump {
public:
    /// Characters of the line part before the tab: offset, blank, two groups.
    static constexpr int kLineWidth = 59;

    /// The exact length of the dump of count bytes.
    static std::size_t Length(int count);
    /// Replaces text with the dump of bytes[0, count). A count of 0 gives a
    /// single tab; the dump never ends with a line break.
    static void Build(const win::BYTE* bytes, int count, std::string& text);
};
