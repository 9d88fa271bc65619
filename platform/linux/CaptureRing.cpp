// The program's end of the capture helper's output ring (see CaptureRing.h).
#include "platform/linux/CaptureRing.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace win::detail {

namespace protocol = quorvane::capturehelper;

CaptureRing::~CaptureRing() {
    if (m_base != nullptr) munmap(m_base, protocol::RingMappingBytes(m_dataBytes));
}

int CaptureRing::Create(std::size_t dataBytes) {
    if (m_base != nullptr || dataBytes == 0 || dataBytes % protocol::kRingHeaderBytes != 0) {
        errno = EINVAL;
        return -1;
    }
    int fd = memfd_create("quorvane-capture-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    std::uint8_t* base = nullptr;
    if (ftruncate(fd, static_cast<off_t>(protocol::kRingHeaderBytes + dataBytes)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0 ||
        (base = protocol::MapRing(fd, dataBytes)) == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    m_base = base;
    m_header = reinterpret_cast<protocol::RingHeader*>(base);
    m_data = base + protocol::kRingHeaderBytes;
    m_dataBytes = dataBytes;
    // Waiting from the start: the helper's first publication sends a message.
    SetWaiting();
    return fd;
}

bool CaptureRing::ReadHead(std::uint64_t* head) const {
    const std::uint64_t value = __atomic_load_n(&m_header->head, __ATOMIC_SEQ_CST);
    if (value < m_tail || value - m_tail > m_dataBytes) return false;
    *head = value;
    return true;
}

void CaptureRing::SetTail(std::uint64_t tail) {
    m_tail = tail;
    __atomic_store_n(&m_header->tail, tail, __ATOMIC_RELEASE);
}

void CaptureRing::SetWaiting() {
    __atomic_store_n(&m_header->waiting, 1, __ATOMIC_SEQ_CST);
}

}  // namespace win::detail
