// A memory control group of a test's own, with a hard memory limit, for
// tests of what a process does when it runs out of memory. It is made below
// the test runner's own group (cgroup v1 memory controller, or cgroup v2 where
// the parent offers the memory controller) and removed at destruction, once
// the processes put in it have ended. Needs root.
//
//   testsupport::MemoryCgroup group(256 << 20);
//   if (!group.IsReady()) GTEST_SKIP() << group.Reason();
//   ... in a forked child: group.Join(getpid());
#pragma once

#include <string>

namespace testsupport {

class MemoryCgroup {
public:
    explicit MemoryCgroup(unsigned long long limitBytes);
    ~MemoryCgroup();
    MemoryCgroup(const MemoryCgroup&) = delete;
    MemoryCgroup& operator=(const MemoryCgroup&) = delete;

    bool IsReady() const { return !m_sPath.empty(); }
    /// Why the group could not be made.
    const std::string& Reason() const { return m_sReason; }
    /// Puts a process into the group; false on failure.
    bool Join(int pid) const;
    /// The limit the kernel holds for the group (it rounds to pages).
    unsigned long long Limit() const;
    /// True for cgroup v1.
    bool IsVersion1() const { return m_bVersion1; }

private:
    std::string m_sPath;
    std::string m_sReason;
    bool m_bVersion1 = false;
};

}  // namespace testsupport
