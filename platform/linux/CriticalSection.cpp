// Re-entrant critical sections on a recursive mutex owned by the section
// between InitializeCriticalSection and DeleteCriticalSection.
#include <mutex>

#include "platform/WinKernel.h"

namespace win {

namespace {
std::recursive_mutex* MutexOf(LPCRITICAL_SECTION section) { return static_cast<std::recursive_mutex*>(section->impl); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex; }

void EnterCriticalSection(LPCRITICAL_SECTION section) { MutexOf(section)->lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION section) { MutexOf(section)->unlock(); }

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete MutexOf(section);
    section->impl = nullptr;
}

}  // namespace win
