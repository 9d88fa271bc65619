// The state machine shared by events and threads: signalled state, the list
// of blocked waiters and the registered waits watching the object.
//
// A set wakes waiters while holding the object's lock. A waiter, before it
// returns, removes itself from every object it queued on, taking each lock in
// turn; so its stack-held WaitBlock outlives every set that may touch it.
// Lock order: object lock, then a waiter's own mutex or the pool lock.
#include <algorithm>

#include "platform/linux/KernelObjects.h"

namespace win::detail {

namespace {
void Wake(WaitBlock* block) {
    { std::lock_guard<std::mutex> guard(block->m_mutex); }
    block->m_wake.notify_one();
}
}  // namespace

void Waitable::Set() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_signalled) return;  // sets coalesce; nobody can be waiting
    if (m_manualReset) {
        m_signalled = true;
        for (const Waiter& waiter : m_waiters) {
            if (waiter.block->TrySatisfy(waiter.index)) Wake(waiter.block);
        }
        m_waiters.clear();
        for (Registration* registration : m_watchers) registration->OnSignalled();
        return;
    }
    // Auto-reset: the first waiter still pending takes the signal. Entries of
    // waiters already satisfied elsewhere are dropped on the way.
    auto it = m_waiters.begin();
    for (; it != m_waiters.end(); ++it) {
        if (it->block->TrySatisfy(it->index)) {
            Wake(it->block);
            ++it;
            m_waiters.erase(m_waiters.begin(), it);
            return;
        }
    }
    m_waiters.clear();
    for (Registration* registration : m_watchers) {
        if (registration->OnSignalled()) return;
    }
    m_signalled = true;
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
