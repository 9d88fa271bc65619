// The protocol names for numbers 0 to 100, and the "Unknown (n)" texts that
// stand for the unnamed numbers 101 to 255. Lookups never leave the tables.
#include "packet/ProtocolTable.h"

#include <array>
#include <cstdio>

namespace {

const char kUnassigned[] = "unassigned";

const char* const kNames[ProtocolTable::kNamedCount] = {
    "Reserved", "ICMP", "IGMP", "GGP", "IP", "ST", "TCP", "UCL", "EGP", "IGP",
    "BBN-RCC-MON", "NVP-II", "PUP", "ARGUS", "EMCON", "XNET", "CHAOS", "UDP", "MUX", "DCN-MEAS",
    "HMP", "PRM", "XNS-IDP", "TRUNK-1", "TRUNK-2", "LEAF-1", "LEAF-2", "RDP", "IRTP", "ISO-TP4",
    "NETBLT", "MFE-NSP", "MERIT-INP", "SEP", "3PC", "IDPR", "XTP", "DDP", "IDPR-CMTP", "TP++",
    "IL", "SIP", "SDRP", "SIP-SR", "SIP-FRAG", "IDRP", "RSVP", "GRE", "MHRP", "BNA",
    "SIPP-ESP", "SIPP-AH", "I-NLSP", "SWIPE", "NHRP", kUnassigned, kUnassigned, kUnassigned, kUnassigned, kUnassigned,
    kUnassigned, "any host internal protocol", "CFTP", "any local network", "SAT-EXPAK", "KRYPTOLAN", "RVD", "IPPC",
    "any distributed file system", "SAT-MON",
    "VISA", "IPCV", "CPNX", "CPHB", "WSN", "PVP", "BR-SAT-MON", "SUN-ND", "WB-MON", "WB-EXPAK",
    "ISO-IP", "VMTP", "SECURE-VMTP", "VINES", "TTP", "NSFNET-IGP", "DGP", "TCF", "IGRP", "OSPFIGP",
    "Sprite-RPC", "LARP", "MTP", "AX.25", "IPIP", "MICP", "SCC-SP", "ETHERIP", "ENCAP", "any private encryption scheme",
    "GMTP",
};

constexpr int kUnnamedCount = 256 - ProtocolTable::kNamedCount;

// "Unknown (255)" is 13 characters (the arrays leave room for any int); built once, on first use, by one thread
// (function-local statics are initialised thread-safely).
using UnknownTexts = std::array<std::array<char, 24>, kUnnamedCount>;

const UnknownTexts& GetUnknownTexts()
{
    static const UnknownTexts texts = [] {
        UnknownTexts built{};
        for (int i = 0; i < kUnnamedCount; ++i) {
            std::snprintf(built[i].data(), built[i].size(), "Unknown (%d)", ProtocolTable::kNamedCount + i);
        }
        return built;
    }();
    return texts;
}

}  // namespace

const char* ProtocolTable::GetName(unsigned protocol)
{
    protocol &= 0xFF;
    if (protocol < static_cast<unsigned>(kNamedCount)) {
        return kNames[protocol];
    }
    return GetUnknownTexts()[protocol - kNamedCount].data();
}
