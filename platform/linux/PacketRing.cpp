// The TPACKET_V3 receive ring: set-up, taking one datagram at a time, handing
// finished blocks back to the kernel.
#include "platform/linux/PacketRing.h"

#include <linux/if_packet.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace win::detail {

namespace {
// Frames have no fixed size in a V3 ring; the kernel still checks that the
// block size is a multiple of the nominal frame size.
constexpr unsigned kNominalFrameSize = 2048;

tpacket_hdr_v1& Header(std::uint8_t* block) { return reinterpret_cast<tpacket_block_desc*>(block)->hdr.bh1; }

std::uint32_t Status(std::uint8_t* block) { return __atomic_load_n(&Header(block).block_status, __ATOMIC_ACQUIRE); }
}  // namespace

PacketRing::~PacketRing() {
    if (m_map != nullptr) munmap(m_map, m_mapSize);
}

int PacketRing::Attach(int fd, unsigned blockSize, unsigned blockCount, unsigned blockTimeoutMs) {
    int version = TPACKET_V3;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) return errno;

    tpacket_req3 request{};
    request.tp_block_size = blockSize;
    request.tp_block_nr = blockCount;
    request.tp_frame_size = kNominalFrameSize;
    request.tp_frame_nr = blockSize / kNominalFrameSize * blockCount;
    request.tp_retire_blk_tov = blockTimeoutMs;
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) return errno;

    std::size_t size = static_cast<std::size_t>(blockSize) * blockCount;
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) {
        int error = errno;
        // Remove the ring again so the socket can fall back to its plain queue.
        tpacket_req3 none{};
        setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
        return error;
    }
    m_map = static_cast<std::uint8_t*>(map);
    m_mapSize = size;
    m_blockSize = blockSize;
    m_blockCount = blockCount;
    m_block = 0;
    m_frame = nullptr;
    m_framesLeft = 0;
    return 0;
}

bool PacketRing::OpenNextBlock() {
    // Skip blocks the kernel handed over empty; they carry nothing to take.
    for (unsigned tries = 0; tries < m_blockCount; ++tries) {
        std::uint8_t* block = BlockAt(m_block);
        if ((Status(block) & TP_STATUS_USER) == 0) return false;
        tpacket_hdr_v1& header = Header(block);
        if (header.num_pkts != 0) {
            m_framesLeft = header.num_pkts;
            m_frame = block + header.offset_to_first_pkt;
            return true;
        }
        ReleaseBlock();
    }
    return false;
}

void PacketRing::ReleaseBlock() {
    __atomic_store_n(&Header(BlockAt(m_block)).block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    m_block = (m_block + 1) % m_blockCount;
    m_frame = nullptr;
    m_framesLeft = 0;
}

long PacketRing::Take(char* buffer, std::size_t length) {
    if (m_map == nullptr) return -1;
    if (m_framesLeft == 0 && !OpenNextBlock()) return -1;

    const auto* frame = reinterpret_cast<const tpacket3_hdr*>(m_frame);
    // On a datagram-mode socket the network header starts at tp_mac; tp_snaplen
    // is what the ring kept of tp_len bytes (less only past the block size).
    std::size_t count = frame->tp_snaplen < length ? frame->tp_snaplen : length;
    std::memcpy(buffer, m_frame + frame->tp_mac, count);

    if (--m_framesLeft == 0) {
        ReleaseBlock();
    } else {
        m_frame += frame->tp_next_offset;
    }
    return static_cast<long>(count);
}

bool PacketRing::HasData() const {
    if (m_map == nullptr) return false;
    if (m_framesLeft != 0) return true;
    // An empty block handed over would report data that Take then skips; the
    // kernel hands over only blocks that hold datagrams, so this is rare and
    // costs one spurious FD_READ at most.
    return (Status(BlockAt(m_block)) & TP_STATUS_USER) != 0;
}

}  // namespace win::detail
