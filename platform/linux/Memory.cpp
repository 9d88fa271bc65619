// VirtualAlloc, VirtualFree and GlobalMemoryStatusEx on Linux.
//
// Regions are anonymous private mappings, so a freed region returns to the
// system at once whatever the C library's heap does; each is aligned on 64 KiB
// by mapping a little more and unmapping the overhang, and backed at once. The
// region sizes are kept in a table because VirtualFree is given the address
// alone.
//
// The memory status reads /proc/meminfo and, where the process's control group
// sets a memory limit (cgroup v1 memory.limit_in_bytes through memory.stat's
// hierarchical_memory_limit, or cgroup v2 memory.max on the group or an
// ancestor), caps the total at that limit and counts as available the limit
// less the group's usage without its inactive file cache, which the kernel
// reclaims before it runs out. The address space comes from RLIMIT_AS and the
// process's mapped size. Reading the files needs memory itself; when none can
// be had the status fails (FALSE, ERROR_NOT_ENOUGH_MEMORY) rather than throw.
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <span>
#include <sstream>
#include <string>

#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinMemory.h"

namespace win {

namespace {

std::mutex g_regionsLock;
std::map<std::uintptr_t, SIZE_T>& Regions() {
    static auto* regions = new std::map<std::uintptr_t, SIZE_T>;  // never destroyed: used until exit
    return *regions;
}
std::atomic<int> g_allocFailures{0};
std::atomic<int> g_statusFailures{0};

// Takes one injected failure of the counter; true when there was one.
bool TakeFailure(std::atomic<int>& failures) {
    int left = failures.load();
    while (left > 0 && !failures.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

constexpr DWORDLONG kUnlimited = DWORDLONG{1} << 62;
// User address space of x86-64 and AArch64 with 4-level tables.
constexpr DWORDLONG kAddressSpace = DWORDLONG{1} << 47;

bool ReadNumber(const std::string& path, DWORDLONG& value) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word)) return false;
    if (word == "max") {
        value = kUnlimited;
        return true;
    }
    try {
        value = std::stoull(word);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// A field of a stat file such as memory.stat or /proc/meminfo: a "name value"
// line (a trailing colon on the name and a unit after the value are ignored).
struct StatField {
    const char* name;
    DWORDLONG* value;
    bool found = false;
};

// Reads the fields in one pass over the file (the kernel builds
// /proc/meminfo whole at each read). True when every one was found.
bool ReadStats(const std::string& path, std::span<StatField> fields) {
    // An injected failure stands for the stream's buffer that cannot be had.
    if (TakeFailure(g_statusFailures)) throw std::bad_alloc();
    std::ifstream in(path);
    std::string line;
    std::size_t left = fields.size();
    while (left > 0 && std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        DWORDLONG number = 0;
        if (!(words >> key >> number)) continue;
        if (!key.empty() && key.back() == ':') key.pop_back();
        for (StatField& field : fields) {
            if (field.found || key != field.name) continue;
            *field.value = number;
            field.found = true;
            --left;
        }
    }
    return left == 0;
}

bool ReadStat(const std::string& path, const char* name, DWORDLONG& value) {
    StatField field{name, &value};
    return ReadStats(path, std::span<StatField>(&field, 1));
}

struct GroupLimit {
    DWORDLONG limit = kUnlimited;
    DWORDLONG used = 0;
};

// The tightest memory limit of the process's control group and its ancestors,
// and the usage counted against it.
GroupLimit ReadGroupLimit() {
    GroupLimit result;
    std::string v1Path;
    std::string v2Path;
    testing::ReadOwnControlGroups(v1Path, v2Path);
    if (!v1Path.empty()) {
        const std::string dir = "/sys/fs/cgroup/memory" + (v1Path == "/" ? std::string() : v1Path);
        DWORDLONG limit = kUnlimited;
        DWORDLONG usage = 0;
        DWORDLONG inactive = 0;
        StatField fields[] = {{"hierarchical_memory_limit", &limit}, {"total_inactive_file", &inactive}};
        ReadStats(dir + "/memory.stat", fields);
        if (!fields[0].found) ReadNumber(dir + "/memory.limit_in_bytes", limit);
        if (limit < kUnlimited && ReadNumber(dir + "/memory.usage_in_bytes", usage)) {
            result.limit = limit;
            result.used = usage - std::min(usage, inactive);
        }
        return result;
    }
    if (v2Path.empty()) return result;
    // cgroup v2: every level from the group up to the root may set memory.max.
    std::string path = v2Path;
    for (;;) {
        const std::string dir = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
        DWORDLONG limit = kUnlimited;
        DWORDLONG usage = 0;
        if (ReadNumber(dir + "/memory.max", limit) && limit < kUnlimited && ReadNumber(dir + "/memory.current", usage)) {
            DWORDLONG inactive = 0;
            ReadStat(dir + "/memory.stat", "inactive_file", inactive);
            const DWORDLONG used = usage - std::min(usage, inactive);
            const DWORDLONG room = limit - std::min(limit, used);
            if (room < result.limit - std::min(result.limit, result.used)) {
                result.limit = limit;
                result.used = used;
            }
        }
        if (path.empty() || path == "/") break;
        const std::size_t slash = path.find_last_of('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return result;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    if (address || size == 0 || !(type & MEM_COMMIT) || protect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (TakeFailure(g_allocFailures)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    size = (size + page - 1) / page * page;
    const SIZE_T mapped = size + kAllocationGranularity - page;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kAllocationGranularity - 1) & ~(std::uintptr_t{kAllocationGranularity} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Committed pages are backed now, in one call, as a commit is: faulting
    // them in one at a time on first write costs several times more, and
    // every caller fills its regions soon after. A kernel without the call
    // leaves them to be faulted in; one out of memory fails the commit.
    if (madvise(reinterpret_cast<void*>(aligned), size, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
        munmap(reinterpret_cast<void*>(aligned), size);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(g_regionsLock);
        Regions()[aligned] = size;
    } catch (const std::bad_alloc&) {
        munmap(reinterpret_cast<void*>(aligned), size);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<LPVOID>(aligned);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    if (!address || size != 0 || type != MEM_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SIZE_T length = 0;
    {
        std::lock_guard<std::mutex> lock(g_regionsLock);
        auto found = Regions().find(reinterpret_cast<std::uintptr_t>(address));
        if (found == Regions().end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        length = found->second;
        Regions().erase(found);
    }
    munmap(address, length);
    return TRUE;
}

namespace {

void ReadMemoryStatus(LPMEMORYSTATUSEX status) {
    DWORDLONG total = 0;
    DWORDLONG available = 0;
    DWORDLONG swapTotal = 0;
    DWORDLONG swapFree = 0;
    DWORDLONG free = 0;
    StatField fields[] = {
        {"MemTotal", &total}, {"MemAvailable", &available}, {"MemFree", &free}, {"SwapTotal", &swapTotal},
        {"SwapFree", &swapFree},
    };
    ReadStats("/proc/meminfo", fields);
    if (!fields[1].found) available = free;  // kernels before 3.14
    total *= 1024;
    available *= 1024;
    swapTotal *= 1024;
    swapFree *= 1024;

    const GroupLimit group = ReadGroupLimit();
    if (group.limit < total) {
        total = group.limit;
        available = std::min(available, group.limit - std::min(group.limit, group.used));
    }

    DWORDLONG totalVirtual = kAddressSpace;
    rlimit addressLimit{};
    if (getrlimit(RLIMIT_AS, &addressLimit) == 0 && addressLimit.rlim_cur != RLIM_INFINITY)
        totalVirtual = std::min<DWORDLONG>(totalVirtual, addressLimit.rlim_cur);
    DWORDLONG mappedPages = 0;
    ReadNumber("/proc/self/statm", mappedPages);
    const DWORDLONG mapped = mappedPages * static_cast<DWORDLONG>(sysconf(_SC_PAGESIZE));

    status->ullTotalPhys = total;
    status->ullAvailPhys = std::min(available, total);
    status->dwMemoryLoad = total ? static_cast<DWORD>((total - status->ullAvailPhys) * 100 / total) : 0;
    status->ullTotalPageFile = total + swapTotal;
    status->ullAvailPageFile = status->ullAvailPhys + swapFree;
    status->ullTotalVirtual = totalVirtual;
    status->ullAvailVirtual = totalVirtual - std::min(totalVirtual, mapped);
    status->ullAvailExtendedVirtual = 0;
}

}  // namespace

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
    if (!status || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        ReadMemoryStatus(status);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

namespace testing {

void ReadOwnControlGroups(std::string& v1Memory, std::string& v2) {
    v1Memory.clear();
    v2.clear();
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        // hierarchy-ID:controllers:path; cgroup v2 is "0::path".
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty() && line.compare(0, first, "0") == 0) v2 = path;
        std::istringstream names(controllers);
        std::string name;
        while (std::getline(names, name, ',')) {
            if (name == "memory") v1Memory = path;
        }
    }
}

void SetVirtualAllocFailures(int count) { g_allocFailures.store(count); }

int GetVirtualAllocFailures() { return g_allocFailures.load(); }

void SetMemoryStatusFailures(int count) { g_statusFailures.store(count); }

}  // namespace testing

}  // namespace win
