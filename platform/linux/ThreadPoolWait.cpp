// Registered waits (RegisterWaitForSingleObject, UnregisterWaitEx) and the
// thread pool that runs their callbacks.
//
// A registration watches its object: when the object becomes signalled it
// calls OnSignalled, which queues the registration for a pool thread (or, on
// an auto-reset object, takes the signal so that it is run once for it). A
// pool thread that finishes a run and finds the object still signalled, or
// signalled again during the run, runs the callback again itself: the capture
// socket sets its event once per datagram while more wait, and a hand-off to
// another thread per datagram would cost more than the receive. Runs overlap
// only when a run is slow: a signal from elsewhere that arrives while one run
// has lasted longer than kOverlapDelay is given to another pool thread. A
// signal the run gives its own object (the socket's "more data" from inside
// the receive) only asks for the next run on the same thread: watching for
// a slow run costs an idle thread two wake-ups, per batch of datagrams.
//
// A thread that sets an event for something it watched (the capture socket's
// watcher, woken by the kernel) may run the callback itself, with
// SetEventAndRunHere: the hand-off to a pool thread would cost a second
// wake-up per batch. Its run counts as any other, for overlaps and for
// UnregisterWaitEx.
//
// The pool has at most kMaxThreads threads, started on demand and kept for
// the life of the process; each registration is queued at most once, so an
// object that stays signalled never piles up runs. The pool's state is never
// destroyed and its threads are detached: at process exit, idle threads are
// simply ended with the process, and nothing waits for them.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/linux/KernelObjects.h"

namespace win {

namespace detail {

namespace {

constexpr int kMaxThreads = 4;
constexpr auto kOverlapDelay = std::chrono::milliseconds(2);

struct Pool {
    std::mutex mutex;  // guards the pool and the registrations' run state
    std::condition_variable work;       // idle threads wait here
    std::condition_variable runsEnded;  // UnregisterWaitEx waits here
    std::deque<Registration*> ready;    // each holds a reference
    std::vector<Registration*> deferred;  // signalled during a run; each holds a reference
    int threads = 0;
    int idle = 0;
    bool scanning = false;  // one idle thread watches the deferred list
};

Pool& ThePool() {
    static Pool* const pool = new Pool;  // never destroyed; see the file comment
    return *pool;
}

thread_local Registration* t_running = nullptr;
// Set by SetEventAndRunHere around its set: where a registration takes the
// signal, it is kept here (with a reference) instead of waking a pool thread.
thread_local Registration** t_takeHere = nullptr;

void WorkerMain();

/// Starts a thread when none is idle and the bound allows. Pool lock held.
void EnsureThread(Pool& pool) {
    if (pool.idle > 0 || pool.threads >= kMaxThreads) return;
    try {
        std::thread(WorkerMain).detach();
        ++pool.threads;
    } catch (const std::system_error&) {
        // Without a new thread, the threads already there take the work.
    }
}

/// Runs the callback until no signal is left for it, then releases the run's
/// reference. Entered and left with the pool lock held.
void RunLoop(Pool& pool, Registration* registration, std::unique_lock<std::mutex>& lock) {
    ++registration->m_running;
    for (;;) {
        ++registration->m_runSerial;
        registration->m_pending = false;
        lock.unlock();
        t_running = registration;
        try {
            registration->m_callback(registration->m_context, FALSE);
        } catch (const std::bad_alloc&) {
            // Out of memory: this run's work is dropped, not the process.
        }
        t_running = nullptr;
        const bool stillSignalled = registration->m_object->IsManualReset() && !registration->m_onlyOnce &&
                                    registration->m_object->IsSignalled();
        lock.lock();
        if (registration->m_unregistered) break;
        if (!registration->m_pending && !stillSignalled) break;
    }
    HANDLE completion = nullptr;
    if (--registration->m_running == 0 && registration->m_unregistered) {
        pool.runsEnded.notify_all();
        completion = registration->m_completion;
        registration->m_completion = nullptr;
    }
    if (completion != nullptr) {
        // Setting an event may reach the pool lock through its watchers.
        lock.unlock();
        SetEvent(completion);
        lock.lock();
    }
    registration->Release();
}

/// Takes the registration off the ready queue if it is there; the caller then
/// holds the queue's reference. Pool lock held.
bool Unqueue(Pool& pool, Registration* registration) {
    if (!registration->m_queued) return false;
    std::erase(pool.ready, registration);
    registration->m_queued = false;
    return true;
}

void DropDeferred(Pool& pool, std::size_t position) {
    Registration* registration = pool.deferred[position];
    pool.deferred.erase(pool.deferred.begin() + static_cast<std::ptrdiff_t>(position));
    registration->m_deferred = false;
    registration->Release();
}

/// Gives the first registration whose run has stalled with a signal waiting
/// an overlapping run on this thread. Pool lock held.
void ScanDeferred(Pool& pool, std::unique_lock<std::mutex>& lock) {
    for (std::size_t i = 0; i < pool.deferred.size();) {
        Registration* registration = pool.deferred[i];
        if (!registration->m_pending || registration->m_running == 0 || registration->m_unregistered) {
            DropDeferred(pool, i);
            continue;
        }
        if (registration->m_runSerial == registration->m_deferSerial && registration->m_running < kMaxThreads) {
            registration->AddRef();
            DropDeferred(pool, i);
            RunLoop(pool, registration, lock);
            return;
        }
        registration->m_deferSerial = registration->m_runSerial;
        ++i;
    }
}

void WorkerMain() {
    Pool& pool = ThePool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        if (!pool.ready.empty()) {
            Registration* registration = pool.ready.front();
            pool.ready.pop_front();
            registration->m_queued = false;
            RunLoop(pool, registration, lock);
            continue;
        }
        ++pool.idle;
        if (!pool.deferred.empty() && !pool.scanning) {
            pool.scanning = true;
            const auto deadline = std::chrono::steady_clock::now() + kOverlapDelay;
            pool.work.wait_until(lock, deadline, [&pool] { return !pool.ready.empty(); });
            pool.scanning = false;
            --pool.idle;
            if (pool.ready.empty()) ScanDeferred(pool, lock);
            continue;
        }
        pool.work.wait(lock);
        --pool.idle;
    }
}

}  // namespace

bool Registration::OnSignalled(int* wakeThreads) {
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> guard(pool.mutex);
        if (!m_accepting) return false;
        if (m_onlyOnce) m_accepting = false;
        if (m_running > 0) {
            // The running thread runs again when its run ends.
            m_pending = true;
            if (t_running == this) return true;
            if (!m_deferred) {
                m_deferred = true;
                m_deferSerial = m_runSerial;
                AddRef();
                pool.deferred.push_back(this);
                if (!pool.scanning) {
                    if (pool.idle > 0) ++*wakeThreads;
                    else EnsureThread(pool);
                }
            }
        } else {
            const bool takeHere = t_takeHere != nullptr && *t_takeHere == nullptr;
            if (takeHere) {
                AddRef();
                *t_takeHere = this;
            }
            if (m_queued) return true;
            m_queued = true;
            AddRef();
            pool.ready.push_back(this);
            if (takeHere) return true;
            if (pool.idle > 0) ++*wakeThreads;
            else EnsureThread(pool);
        }
    }
    return true;
}

void Registration::WakePoolThreads(int count) {
    // The pool is never destroyed, so this may come after every lock is let go.
    Pool& pool = ThePool();
    for (int i = 0; i < count; ++i) pool.work.notify_one();
}

void SetEventAndRunHere(HANDLE event, std::unique_lock<std::mutex>& held) {
    Registration* taken = nullptr;
    t_takeHere = &taken;
    SetEvent(event);
    t_takeHere = nullptr;
    held.unlock();
    if (taken == nullptr) return;
    Pool& pool = ThePool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    // A pool thread that came free meanwhile may have taken it from the queue.
    if (Unqueue(pool, taken)) RunLoop(pool, taken, lock);  // releases the queue's reference
    lock.unlock();
    taken->Release();
}

}  // namespace detail

BOOL RegisterWaitForSingleObject(HANDLE* newWaitObject, HANDLE object, WAITORTIMERCALLBACK callback, PVOID context,
                                 ULONG milliseconds, ULONG flags) {
    // Only waits without a time-out are offered: nothing in the program times out a registered wait.
    if (newWaitObject == nullptr || callback == nullptr || milliseconds != INFINITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    detail::KernelObject* target = detail::ObjectFromHandle(object, true, false);
    if (target == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* waitable = static_cast<detail::Waitable*>(target);
    auto* registration = new detail::Registration(waitable, callback, context, (flags & WT_EXECUTEONLYONCE) != 0);
    *newWaitObject = registration;
    waitable->AddWatcher(registration);
    return TRUE;
}

BOOL UnregisterWaitEx(HANDLE waitHandle, HANDLE completionEvent) {
    detail::KernelObject* target = detail::ObjectFromHandle(waitHandle, false, true);
    if (target == nullptr || !target->MarkClosed()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* registration = static_cast<detail::Registration*>(target);
    // After this no signal reaches the registration.
    registration->m_object->RemoveWatcher(registration);

    detail::Pool& pool = detail::ThePool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    registration->m_unregistered = true;
    registration->m_accepting = false;
    registration->m_pending = false;
    if (detail::Unqueue(pool, registration)) registration->Release();
    if (registration->m_deferred) {
        detail::DropDeferred(pool, static_cast<std::size_t>(
                                       std::find(pool.deferred.begin(), pool.deferred.end(), registration) -
                                       pool.deferred.begin()));
    }
    // A callback that unregisters its own wait does not wait for itself.
    const int own = detail::t_running == registration ? 1 : 0;
    BOOL result = TRUE;
    bool setCompletion = false;
    if (completionEvent == INVALID_HANDLE_VALUE) {
        pool.runsEnded.wait(lock, [&] { return registration->m_running <= own; });
    } else if (registration->m_running > own) {
        if (completionEvent != nullptr) {
            registration->m_completion = completionEvent;
        } else {
            SetLastError(ERROR_IO_PENDING);
            result = FALSE;
        }
    } else {
        setCompletion = completionEvent != nullptr;
    }
    lock.unlock();
    if (setCompletion) SetEvent(completionEvent);
    registration->Release();
    return result;
}

}  // namespace win
