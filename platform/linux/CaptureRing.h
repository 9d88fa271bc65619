// The program's end of a capture helper's output ring (see
// helper/CaptureHelperProtocol.h): a sealed memfd that the helper writes its
// pcapng stream into, mapped here with its data twice in a row, so that the
// bytes from the tail to the head can be read in one piece wherever they
// start. The program sends the descriptor with its start request and keeps
// only the mapping. Used under the capture socket's lock; nothing outside
// platform/linux/ includes this file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/helper/CaptureHelperProtocol.h"

namespace win::detail {

class CaptureRing {
public:
    CaptureRing() = default;
    ~CaptureRing();
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    /// A ring of dataBytes (a multiple of kRingHeaderBytes), mapped here; its
    /// descriptor (close-on-exec) for the helper, or -1 with errno set.
    int Create(std::size_t dataBytes);

    /// Stream bytes the helper has published; false when its count cannot be
    /// (behind what was read, or more than the ring holds).
    bool ReadHead(std::uint64_t* head) const;
    /// The stream from byte `from` on, contiguous for up to GetDataBytes().
    const std::uint8_t* At(std::uint64_t from) const { return m_data + from % m_dataBytes; }
    /// Gives the helper back the room of the bytes before `tail`.
    void SetTail(std::uint64_t tail);
    std::uint64_t GetTail() const { return m_tail; }
    /// Asks for a message on the channel with the next publication. The
    /// caller looks at the head once more afterwards before it waits.
    void SetWaiting();
    std::size_t GetDataBytes() const { return m_dataBytes; }

private:
    std::uint8_t* m_base = nullptr;
    quorvane::capturehelper::RingHeader* m_header = nullptr;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_dataBytes = 0;
    std::uint64_t m_tail = 0;
};

}  // namespace win::detail
