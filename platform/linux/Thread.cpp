// CreateThread and Sleep. A thread's handle is a manual-reset waitable object
// that the thread sets when its routine returns. The running thread holds a
// reference of its own, so closing the handle of a running thread detaches it.
#include <atomic>
#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "platform/linux/KernelObjects.h"

namespace win {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    // The stack size is left to the system; suspended creation is not offered.
    if (routine == nullptr || creationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    static std::atomic<DWORD> nextId{1};
    auto* thread = new detail::Waitable(detail::ObjectKind::Thread, true, false);
    thread->AddRef();  // the running thread's reference
    try {
        std::thread([thread, routine, parameter] {
            try {
                routine(parameter);
            } catch (const std::bad_alloc&) {
                // Out of memory: the thread's work is dropped, not the process.
            }
            thread->Set();
            thread->Release();
        }).detach();
    } catch (const std::system_error&) {
        thread->Release();
        thread->Release();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) *threadId = nextId.fetch_add(1, std::memory_order_relaxed);
    return thread;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace win
