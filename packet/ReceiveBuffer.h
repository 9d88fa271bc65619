// The per-thread receive buffer. A record receives its datagram into a buffer
// of full capacity and then keeps only the bytes received; the full-size buffer
// is lent by the receiving thread instead of allocated per datagram, so that a
// queued record costs about the bytes received, not 64 KiB.
//
// Rule: the buffer is lent to one record at a time and returned by that record
// on the thread that borrowed it (in SetReceived, or in its destructor when no
// receive happened). A record created while the thread's buffer is out gets a
// heap block of its own instead, so an earlier record is never overwritten.
// Debug builds assert that the buffer comes back on its own thread.
#pragma once

#include <memory>

#include "platform/WinTypes.h"

class ReceiveBuffer {
public:
    /// Bytes in a buffer: one more than the receive capacity of 65535.
    static constexpr int kSize = 65536;

    /// Lends the calling thread's buffer, or null when it is already lent.
    /// Throws std::bad_alloc when the buffer cannot be allocated.
    static ReceiveBuffer* Borrow();

    /// The calling thread's buffer, lent or not (for giving it back).
    static ReceiveBuffer* Mine();

    win::BYTE* GetBytes() { return m_pBytes.get(); }
    /// Gives the buffer back; must be called on the thread that borrowed it.
    void Return();

    ReceiveBuffer() = default;
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

private:
    std::unique_ptr<win::BYTE[]> m_pBytes;
    bool m_bLent = false;
};
