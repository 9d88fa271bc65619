// What the test process may do: open packet sockets (CAP_NET_RAW) and create
// network and mount namespaces (CAP_SYS_ADMIN). Tests that need either skip
// with the reason when it is missing, so a developer without root still runs
// the rest; CI runs as root.
//
//   TEST(Capture, Something) {
//       SKIP_UNLESS_CAPTURE_ALLOWED();
//       ...
//   }
#pragma once

#include <string>

namespace testsupport {

class Privileges {
public:
    /// True when this process may open packet sockets; otherwise *reason says why.
    static bool CanCapture(std::string* reason = nullptr);
    /// True when this process may create network and mount namespaces.
    static bool CanIsolate(std::string* reason = nullptr);
    /// Removes CAP_NET_RAW from this process for good (effective, permitted,
    /// inheritable, ambient and bounding sets). Meant for a child process
    /// (ChildProcess::Run); true on success.
    static bool DropNetRaw(std::string* reason = nullptr);
    /// Becomes an ordinary user for good: no supplementary groups, the given
    /// user and group ids, and with them no capability. Meant for a child
    /// process; true on success.
    static bool BecomeUser(unsigned uid, unsigned gid, std::string* reason = nullptr);
};

}  // namespace testsupport

#define SKIP_UNLESS_CAPTURE_ALLOWED()                                                  \
    do {                                                                               \
        std::string qvReason;                                                          \
        if (!::testsupport::Privileges::CanCapture(&qvReason)) GTEST_SKIP() << qvReason; \
    } while (false)

#define SKIP_UNLESS_ISOLATION_ALLOWED()                                                \
    do {                                                                               \
        std::string qvReason;                                                          \
        if (!::testsupport::Privileges::CanIsolate(&qvReason)) GTEST_SKIP() << qvReason; \
    } while (false)
