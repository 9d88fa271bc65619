// The state machine shared by events and threads: signalled state, the list
// of blocked waiters and the registered waits watching the object.
//
// A set claims a waiter's block under the object's lock and counts itself in
// the block's m_wakers; it wakes the block under the block's own mutex, and
// the waiter does not return (and free its stack-held block) before m_wakers
// is back to zero. An auto-reset set wakes its one waiter after letting go of
// the object's lock, so the woken thread, which removes itself from the
// object's list on its way out, does not find the lock still held.
// Lock order: object lock, then a waiter's own mutex or the pool lock.
#include <algorithm>

#include "platform/linux/KernelObjects.h"

namespace win::detail {

namespace {
/// Claims the block for index; on success the caller must call Wake for it.
bool Claim(WaitBlock* block, int index) {
    if (!block->TrySatisfy(index)) return false;
    block->m_wakers.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void Wake(WaitBlock* block) {
    std::lock_guard<std::mutex> guard(block->m_mutex);
    block->m_wakers.fetch_sub(1, std::memory_order_release);
    block->m_wake.notify_one();
}
}  // namespace

void Waitable::Set() {
    WaitBlock* woken = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_signalled) return;  // sets coalesce; nobody can be waiting
        if (m_manualReset) {
            m_signalled = true;
            for (const Waiter& waiter : m_waiters) {
                if (Claim(waiter.block, waiter.index)) Wake(waiter.block);
            }
            m_waiters.clear();
            for (Registration* registration : m_watchers) registration->OnSignalled();
            return;
        }
        // Auto-reset: the first waiter still pending takes the signal. Entries of
        // waiters already satisfied elsewhere are dropped on the way.
        auto it = m_waiters.begin();
        for (; it != m_waiters.end(); ++it) {
            if (Claim(it->block, it->index)) {
                woken = it->block;
                ++it;
                m_waiters.erase(m_waiters.begin(), it);
                break;
            }
        }
        if (woken == nullptr) {
            m_waiters.clear();
            for (Registration* registration : m_watchers) {
                if (registration->OnSignalled()) return;
            }
            m_signalled = true;
        }
    }
    if (woken != nullptr) Wake(woken);
}

void Waitable::Reset() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_signalled = false;
}

bool Waitable::IsSignalled() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_signalled;
}

bool Waitable::AcquireOrEnqueue(WaitBlock* block, int index) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_signalled) {
        if (block->TrySatisfy(index) && !m_manualReset) m_signalled = false;
        return true;  // satisfied, here or by an object queued on before
    }
    m_waiters.push_back({block, index});
    return false;
}

void Waitable::RemoveWaiter(WaitBlock* block) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::erase_if(m_waiters, [block](const Waiter& waiter) { return waiter.block == block; });
}

void Waitable::AddWatcher(Registration* registration) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_watchers.push_back(registration);
    if (m_signalled && registration->OnSignalled() && !m_manualReset) m_signalled = false;
}

void Waitable::RemoveWatcher(Registration* registration) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::erase(m_watchers, registration);
}

}  // namespace win::detail
