// The objects behind kernel HANDLEs: a reference-counted base, waitable objects
// (events and threads) with their waiter lists, and the registered wait of the
// thread pool. A HANDLE is a pointer to one of these. Each waitable object has
// its own lock; a waiter sleeps on a word of its own wait block, so a set
// wakes exactly the waiter it satisfies and costs one uncontended lock when
// nobody waits. Nothing outside platform/linux/ includes this file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/WinKernel.h"

namespace win::detail {

enum class ObjectKind : std::uint32_t { Event, Thread, Registration };

/// Base of every object a HANDLE points to. The handle holds one reference;
/// waits in progress, running threads and registrations hold others, so an
/// object closed while still in use is freed only when the last user is done.
class KernelObject {
public:
    explicit KernelObject(ObjectKind kind) : m_kind(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    ObjectKind Kind() const { return m_kind; }
    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release();
    /// Marks the handle closed; a second close of the same handle is refused.
    bool MarkClosed() { return m_magic.exchange(0, std::memory_order_acq_rel) == kMagic; }
    bool IsOpen() const { return m_magic.load(std::memory_order_acquire) == kMagic; }

private:
    static constexpr std::uint32_t kMagic = 0x514B4F42;  // tags live objects
    std::atomic<std::uint32_t> m_magic{kMagic};
    const ObjectKind m_kind;
    std::atomic<int> m_refs{1};
};

/// Returns the open object a handle points to when its kind is one of the
/// accepted ones, else null. Null and INVALID_HANDLE_VALUE are refused.
KernelObject* ObjectFromHandle(HANDLE handle, bool acceptWaitable, bool acceptRegistration);

/// One call of WaitForMultipleObjects. The first object that satisfies it
/// stores its index in m_index; later ones find it taken and leave it alone.
/// The waiter sleeps on m_index itself (a futex), so the setter wakes it with
/// no lock the woken thread would then have to wait for. A setter may wake the
/// block's address after its waiter has seen the claim and returned: that wake
/// touches no memory, and a later block at the same address takes it for a
/// spurious wake-up and sleeps again.
struct WaitBlock {
    static constexpr int kPending = -1;
    static constexpr int kTimedOut = -2;
    std::atomic<int> m_index{kPending};

    /// Claims the block for index; true when this caller satisfied it.
    bool TrySatisfy(int index) {
        int expected = kPending;
        return m_index.compare_exchange_strong(expected, index, std::memory_order_acq_rel);
    }
    /// Sleeps until the block is claimed; with a deadline, claims it as timed
    /// out when that passes first. Returns the index that satisfied it.
    int Wait(const std::chrono::steady_clock::time_point* deadline);
    /// Wakes the waiter of a block claimed by TrySatisfy.
    static void Wake(WaitBlock* block);
};

class Registration;

/// An object that can be signalled and waited on: an event, or a thread, which
/// is a manual-reset object set once when the thread ends.
class Waitable : public KernelObject {
public:
    Waitable(ObjectKind kind, bool manualReset, bool initialState)
        : KernelObject(kind), m_manualReset(manualReset), m_signalled(initialState) {}

    void Set();
    void Reset();
    bool IsManualReset() const { return m_manualReset; }
    /// Current state, for a pool thread deciding whether to run again.
    bool IsSignalled();

    /// Consumes the signal if set (auto-reset) or observes it (manual-reset);
    /// otherwise records the block as waiting at position index. True when the
    /// object was signalled and the block was satisfied here.
    bool AcquireOrEnqueue(WaitBlock* block, int index);
    void RemoveWaiter(WaitBlock* block);

    /// Watchers are registered waits: a set notifies them instead of waking a
    /// thread; on an auto-reset object a watcher that accepts consumes the signal.
    void AddWatcher(Registration* registration);
    void RemoveWatcher(Registration* registration);

private:
    struct Waiter {
        WaitBlock* block;
        int index;
    };
    const bool m_manualReset;
    std::mutex m_mutex;  // guards everything below
    bool m_signalled;
    std::vector<Waiter> m_waiters;
    std::vector<Registration*> m_watchers;
};

/// A registered wait (RegisterWaitForSingleObject). Its run bookkeeping lives
/// under the thread pool's lock; see ThreadPoolWait.cpp.
class Registration : public KernelObject {
public:
    Registration(Waitable* object, WAITORTIMERCALLBACK callback, PVOID context, bool onlyOnce)
        : KernelObject(ObjectKind::Registration), m_object(object), m_callback(callback), m_context(context),
          m_onlyOnce(onlyOnce) {
        object->AddRef();
    }
    ~Registration() override { m_object->Release(); }

    /// Called by the watched object, under its lock, when it becomes signalled.
    /// Returns true when the registration takes the signal (it is accepting).
    /// Counts in *wakeThreads an idle pool thread to be woken for it: the
    /// object wakes them with WakePoolThreads once its lock is let go, so that
    /// the woken thread, which resets or tests the object, does not wait for it.
    bool OnSignalled(int* wakeThreads);
    static void WakePoolThreads(int count);

    Waitable* const m_object;
    const WAITORTIMERCALLBACK m_callback;
    const PVOID m_context;
    const bool m_onlyOnce;

    // Guarded by the pool lock.
    bool m_accepting = true;   // false once unregistered or fired once
    bool m_unregistered = false;
    bool m_queued = false;     // in the pool's ready queue
    bool m_pending = false;    // signalled while a run was in progress
    bool m_deferred = false;   // in the pool's list of pending-while-running
    int m_running = 0;         // runs in progress
    std::uint64_t m_runSerial = 0;    // counts callback invocations
    std::uint64_t m_deferSerial = 0;  // m_runSerial when last seen deferred
    HANDLE m_completion = nullptr;  // event set when the last run ends after a non-blocking unregister
};

/// Sets event with held locked, then lets go of held. A registered wait that
/// takes the signal and is not running is run on the calling thread, after
/// held is let go, instead of on a pool thread. Only for a thread that holds
/// no other lock a callback might wait for, and whose own work can wait until
/// the run ends.
void SetEventAndRunHere(HANDLE event, std::unique_lock<std::mutex>& held);

}  // namespace win::detail
