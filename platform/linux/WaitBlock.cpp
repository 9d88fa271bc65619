// The wait block's sleep and wake-up, on a futex: see KernelObjects.h.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "platform/linux/KernelObjects.h"

namespace win::detail {

namespace {
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

int* Word(std::atomic<int>& value) { return reinterpret_cast<int*>(&value); }

/// Sleeps while *word holds expected, at most until deadline (absolute, on the
/// monotonic clock that steady_clock reads) when given. False once it has passed.
bool Sleep(std::atomic<int>& word, int expected, const timespec* deadline) {
    const long result = syscall(SYS_futex, Word(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, deadline,
                                nullptr, FUTEX_BITSET_MATCH_ANY);
    return result == 0 || errno != ETIMEDOUT;
}
}  // namespace

int WaitBlock::Wait(const std::chrono::steady_clock::time_point* deadline) {
    timespec until{};
    if (deadline != nullptr) {
        const auto since = deadline->time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        until.tv_sec = static_cast<time_t>(seconds.count());
        until.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    }
    for (;;) {
        const int index = m_index.load(std::memory_order_acquire);
        if (index != kPending) return index;
        if (!Sleep(m_index, kPending, deadline != nullptr ? &until : nullptr)) {
            // A set that races with the time-out wins: the block is claimed once.
            TrySatisfy(kTimedOut);
        }
    }
}

void WaitBlock::Wake(WaitBlock* block) {
    syscall(SYS_futex, Word(block->m_index), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace win::detail
