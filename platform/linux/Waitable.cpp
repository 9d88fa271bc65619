// The state machine shared by events and threads: signalled state, the list
// of blocked waiters and the registered waits watching the object.
//
// A set claims a waiter's block under the object's lock. An auto-reset set
// wakes its one waiter, and a set that a registered wait takes wakes its pool
// thread, after letting go of the object's lock: the woken thread removes
// itself from the object's list, or resets or tests the object, and would
// otherwise find the lock still held and sleep once more.
// Lock order: object lock, then the pool lock.
#include <algorithm>

#include "platform/linux/KernelObjects.h"

namespace win::detail {

void Waitable::Set() {
    WaitBlock* woken = nullptr;
    int wakePool = 0;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_signalled) return;  // sets coalesce; nobody can be waiting
        if (m_manualReset) {
            m_signalled = true;
            for (const Waiter& waiter : m_waiters) {
                if (waiter.block->TrySatisfy(waiter.index)) WaitBlock::Wake(waiter.block);
            }
            m_waiters.clear();
            for (Registration* registration : m_watchers) registration->OnSignalled(&wakePool);
        } else {
            // Auto-reset: the first waiter still pending takes the signal.
            // Entries of waiters already satisfied elsewhere are dropped on the way.
            auto it = m_waiters.begin();
            for (; it != m_waiters.end(); ++it) {
                if (it->block->TrySatisfy(it->index)) {
                    woken = it->block;
                    ++it;
                    m_waiters.erase(m_waiters.begin(), it);
                    break;
                }
            }
            if (woken == nullptr) {
                m_waiters.clear();
                bool taken = false;
                for (Registration* registration : m_watchers) {
                    if (registration->OnSignalled(&wakePool)) {
                        taken = true;
                        break;
                    }
                }
                if (!taken) m_signalled = true;
            }
        }
    }
    if (woken != nullptr) WaitBlock::Wake(woken);
    if (wakePool > 0) Registration::WakePoolThreads(wakePool);
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
    int wakePool = 0;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_watchers.push_back(registration);
        if (m_signalled && registration->OnSignalled(&wakePool) && !m_manualReset) m_signalled = false;
    }
    if (wakePool > 0) Registration::WakePoolThreads(wakePool);
}

void Waitable::RemoveWatcher(Registration* registration) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::erase(m_watchers, registration);
}

}  // namespace win::detail
