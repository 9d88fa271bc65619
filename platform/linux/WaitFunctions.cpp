// WaitForSingleObject and WaitForMultipleObjects (wait for any) on events and
// threads. The caller queues one WaitBlock on each object in index order and
// stops at the first one already signalled, so when several are signalled the
// lowest index wins; a later set satisfies the block at most once.
#include <array>
#include <chrono>

#include "platform/linux/KernelObjects.h"

namespace win {

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    // Waiting for all objects at once is not offered: nothing in the program needs it.
    if (handles == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS || waitAll != FALSE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::array<detail::Waitable*, MAXIMUM_WAIT_OBJECTS> objects{};
    for (DWORD i = 0; i < count; ++i) {
        detail::KernelObject* object = detail::ObjectFromHandle(handles[i], true, false);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects[i] = static_cast<detail::Waitable*>(object);
    }
    for (DWORD i = 0; i < count; ++i) objects[i]->AddRef();

    detail::WaitBlock block;
    DWORD queued = 0;
    bool satisfied = false;
    for (; queued < count && !satisfied; ++queued) {
        satisfied = objects[queued]->AcquireOrEnqueue(&block, static_cast<int>(queued));
    }
    if (satisfied) --queued;  // the object that satisfied the block did not queue it

    int index = block.m_index.load(std::memory_order_acquire);
    if (!satisfied) {
        if (milliseconds == INFINITE) {
            index = block.Wait(nullptr);
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
            index = block.Wait(&deadline);
        }
    }
    for (DWORD i = 0; i < queued; ++i) objects[i]->RemoveWaiter(&block);
    for (DWORD i = 0; i < count; ++i) objects[i]->Release();

    if (index == detail::WaitBlock::kTimedOut) return WAIT_TIMEOUT;
    return WAIT_OBJECT_0 + static_cast<DWORD>(index);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

}  // namespace win
