// Decode plus the seven text operations of one record, per record.
#include <benchmark/benchmark.h>

#include <cstring>

#include "packet/IPPacket.h"

namespace {

void BM_DecodeAndTexts(benchmark::State& state)
{
    unsigned char tcp[40] = {0x45, 0, 0, 40, 0x12, 0x34, 0x40, 0, 64, 6, 0, 0, 10, 1, 2, 3, 192, 168, 200, 201,
                             0x04, 0xD2, 0x00, 0x50, 0, 0, 0, 1, 0, 0, 0, 0, 0x50, 0x12, 0xFF, 0xFF, 0, 0, 0, 0};
    IPPacket packet;
    std::memcpy(packet.GetData(), tcp, sizeof tcp);
    packet.SetReceived(sizeof tcp);
    char source[16], dest[16], protocol[32], size[8], info[32];
    for (auto _ : state) {
        packet.Decode();
        benchmark::DoNotOptimize(packet.GetTimestamp());
        packet.GetSourceAddress(source);
        packet.GetDestAddress(dest);
        packet.GetProtocol(protocol);
        packet.GetSize(size);
        benchmark::DoNotOptimize(packet.GetSourcePort() + packet.GetDestPort());
        packet.GetInfo(info);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DecodeAndTexts);

}  // namespace

BENCHMARK_MAIN();
