// A filter expression in tcpdump's syntax, compiled by libpcap for raw IPv4
// datagrams (DLT_RAW: the IPv4 header first, no link-layer header). The same
// compiled program serves the capture filter, which the system runs on each
// datagram, and the display filter, which is matched here against the bytes a
// record holds. Compiling needs no privilege.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

class PacketFilter {
public:
    /// One classic BPF instruction, laid out as libpcap's bpf_insn and the
    /// kernel's sock_filter.
    struct Instruction {
        std::uint16_t code;
        std::uint8_t jt;
        std::uint8_t jf;
        std::uint32_t k;
    };

    /// An empty filter: matches every datagram and has no program.
    PacketFilter() = default;

    /// Compiles expression. On failure returns false, puts libpcap's message in
    /// error and leaves the filter as it was. An expression of only blanks
    /// makes the filter empty.
    bool Compile(const std::string& expression, std::string& error);

    /// True when no expression is set.
    bool IsEmpty() const { return m_program.empty(); }
    const std::string& GetExpression() const { return m_sExpression; }
    const std::vector<Instruction>& GetProgram() const { return m_program; }

    /// True when the datagram (length bytes held, of which the original was
    /// originalLength long) passes the filter; an empty filter passes all.
    bool Match(const win::BYTE* bytes, int length, int originalLength) const;

private:
    std::string m_sExpression;
    std::vector<Instruction> m_program;
};
