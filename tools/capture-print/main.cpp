// quorvane-capture-print [address [count]]: opens a capture on the address
// (default 127.0.0.1) and prints one line per datagram from the record's text
// operations (time, source:port, destination:port, protocol, size, info) until
// Ctrl+C or until count datagrams have been printed.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "capture/CaptureEngine.h"
#include "packet/Packet.h"
#include "platform/WinSock.h"

using namespace win;

namespace {

std::atomic<bool> g_bStop(false);

void OnInterrupt(int)
{
    g_bStop.store(true);
}

void PrintRecord(Packet& packet)
{
    char source[16], dest[16], protocol[32], size[8], info[32];
    packet.Decode();
    packet.GetSourceAddress(source);
    packet.GetDestAddress(dest);
    packet.GetProtocol(protocol);
    packet.GetSize(size);
    packet.GetInfo(info);
    std::printf("%s  %s:%u -> %s:%u  %s  %s  %s\n", packet.GetTimestamp(), source, packet.GetSourcePort(), dest,
                packet.GetDestPort(), protocol, size, info);
    std::fflush(stdout);
}

// The engine's consumer protocol; returns when the engine releases its consumers.
void Consume(CaptureEngine& engine, long limit, std::atomic<long>& printed)
{
    for (;;) {
        EnterCriticalSection(&engine.m_csQueue);
        if (!engine.m_packets.empty()) {
            Packet* packet = engine.PopPacket();
            LeaveCriticalSection(&engine.m_csQueue);
            if (limit <= 0 || printed.load() < limit) {
                PrintRecord(*packet);
                ++printed;
            }
            delete packet;
            continue;
        }
        LeaveCriticalSection(&engine.m_csQueue);
        if (!engine.WaitForPacket()) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string address = argc > 1 ? argv[1] : "127.0.0.1";
    const long limit = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;

    WSADATA data;
    if (WSAStartup(0x0202, &data) != 0) {
        std::fprintf(stderr, "WSAStartup failed\n");
        return 1;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    int result = 0;
    {
        CaptureEngine engine;
        engine.m_sAdapter = address;
        std::atomic<long> printed(0);
        std::thread consumer([&] { Consume(engine, limit, printed); });
        try {
            engine.OpenCapture();
            while (!g_bStop.load() && (limit <= 0 || printed.load() < limit)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s", e.what());
            if (e.what()[0] && e.what()[std::char_traits<char>::length(e.what()) - 1] != '\n') {
                std::fprintf(stderr, "\n");
            }
            result = 1;
        }
        engine.CloseCapture();
        engine.ReleaseConsumers();
        consumer.join();
    }
    WSACleanup();
    return result;
}
