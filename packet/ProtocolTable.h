// The IP protocol name table: the short name of every 8-bit protocol number,
// as the packet list's Type column and the detail window show it.
#pragma once

class ProtocolTable {
public:
    /// Longest name, without the terminator.
    static constexpr int kMaxName = 29;
    /// Numbers 0 to 100 carry a registered name.
    static constexpr int kNamedCount = 101;

    /// Name of the protocol number. Numbers 101 to 255 read "Unknown (n)";
    /// larger values are reduced to their low 8 bits, as the header holds them.
    static const char* GetName(unsigned protocol);
};
