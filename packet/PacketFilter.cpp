// libpcap compiles on a dead handle of link type DLT_RAW with the largest
// snapshot length; pcap_compile is not thread-safe before libpcap 1.8 and
// takes a lock of its own since, so compiling from any thread is safe.
#include "packet/PacketFilter.h"

#include <pcap/pcap.h>

#include <cstring>
#include <memory>

namespace {

struct DeadHandle {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

static_assert(sizeof(PacketFilter::Instruction) == sizeof(bpf_insn), "instruction layout is bpf_insn's");

}  // namespace

bool PacketFilter::Compile(const std::string& expression, std::string& error)
{
    if (IsBlank(expression)) {
        m_sExpression.clear();
        m_program.clear();
        return true;
    }
    std::unique_ptr<pcap_t, DeadHandle> handle(pcap_open_dead(DLT_RAW, 65535));
    if (!handle) {
        error = "out of memory";
        return false;
    }
    bpf_program program{};
    if (pcap_compile(handle.get(), &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        error = pcap_geterr(handle.get());
        return false;
    }
    std::vector<Instruction> instructions(program.bf_len);
    if (program.bf_len != 0) std::memcpy(instructions.data(), program.bf_insns, program.bf_len * sizeof(bpf_insn));
    pcap_freecode(&program);
    m_sExpression = expression;
    m_program = std::move(instructions);
    return true;
}

bool PacketFilter::Match(const win::BYTE* bytes, int length, int originalLength) const
{
    if (m_program.empty()) return true;
    bpf_program program{static_cast<u_int>(m_program.size()),
                        reinterpret_cast<bpf_insn*>(const_cast<Instruction*>(m_program.data()))};
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(length < 0 ? 0 : length);
    header.len = static_cast<bpf_u_int32>(originalLength < length ? length : originalLength);
    return pcap_offline_filter(&program, &header, bytes) != 0;
}
