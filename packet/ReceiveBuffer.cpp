// One lendable 64 KiB block per thread, allocated on the thread's first
// borrow and freed when the thread ends. The block is not cleared: records
// read only the bytes their receive wrote.
#include "packet/ReceiveBuffer.h"

#include <cassert>

namespace {

thread_local ReceiveBuffer t_buffer;

}  // namespace

ReceiveBuffer* ReceiveBuffer::Borrow()
{
    ReceiveBuffer& buffer = t_buffer;
    if (buffer.m_bLent) {
        return nullptr;
    }
    if (!buffer.m_pBytes) {
        // Default-initialised: no page is touched before a receive writes it.
        buffer.m_pBytes.reset(new win::BYTE[kSize]);
    }
    buffer.m_bLent = true;
    return &buffer;
}

ReceiveBuffer* ReceiveBuffer::Mine()
{
    return &t_buffer;
}

void ReceiveBuffer::Return()
{
    assert(this == &t_buffer && "a receive buffer must be returned on the thread that lent it");
    assert(m_bLent);
    m_bLent = false;
}
