// A memory control group of a test's own: see MemoryCgroup.h.
#include "tests/support/MemoryCgroup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/TestHooks.h"

namespace testsupport {

namespace {

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::string ReadWord(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

}  // namespace

MemoryCgroup::MemoryCgroup(unsigned long long limitBytes) {
    if (geteuid() != 0) {
        m_sReason = "making a control group needs root";
        return;
    }
    std::string v1;
    std::string v2;
    win::testing::ReadOwnControlGroups(v1, v2);
    std::string parent;
    if (!v1.empty() && access("/sys/fs/cgroup/memory/memory.limit_in_bytes", F_OK) == 0) {
        parent = "/sys/fs/cgroup/memory" + (v1 == "/" ? std::string() : v1);
        m_bVersion1 = true;
    } else if (!v2.empty() && access("/sys/fs/cgroup/cgroup.controllers", F_OK) == 0) {
        parent = "/sys/fs/cgroup" + (v2 == "/" ? std::string() : v2);
        // The memory controller must be offered to the parent's children.
        WriteFile(parent + "/cgroup.subtree_control", "+memory");
    } else {
        m_sReason = "no memory control group hierarchy";
        return;
    }
    const std::string path = parent + "/quorvane-test-" + std::to_string(getpid());
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        m_sReason = "cannot make " + path;
        return;
    }
    const std::string limit = std::to_string(limitBytes);
    bool limited = false;
    if (m_bVersion1) {
        limited = WriteFile(path + "/memory.limit_in_bytes", limit);
        // With swap the group would swap instead of running out: limit both.
        if (access((path + "/memory.memsw.limit_in_bytes").c_str(), F_OK) == 0)
            WriteFile(path + "/memory.memsw.limit_in_bytes", limit);
    } else {
        limited = WriteFile(path + "/memory.max", limit);
        WriteFile(path + "/memory.swap.max", "0");
    }
    if (!limited) {
        rmdir(path.c_str());
        m_sReason = "cannot set the memory limit of " + path;
        return;
    }
    m_sPath = path;
}

MemoryCgroup::~MemoryCgroup() {
    if (m_sPath.empty()) return;
    // A group can be removed once its processes have ended; a killed one may
    // take a moment to leave.
    for (int i = 0; i < 50 && rmdir(m_sPath.c_str()) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

bool MemoryCgroup::Join(int pid) const {
    return !m_sPath.empty() && WriteFile(m_sPath + "/cgroup.procs", std::to_string(pid));
}

unsigned long long MemoryCgroup::Limit() const {
    const std::string word = ReadWord(m_sPath + (m_bVersion1 ? "/memory.limit_in_bytes" : "/memory.max"));
    try {
        return std::stoull(word);
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace testsupport
