// Host-name lookups that read only a hosts file the test writes. The body runs
// in a child process (ChildProcess) with a private mount namespace in which
// /etc/nsswitch.conf says "hosts: files" and /etc/hosts holds the given text,
// and inside a fresh network namespace (lo only), so no lookup can ever reach
// the machine's configured name server.
//
//   EXPECT_CHILD_PASSED(testsupport::HostsResolver::Run("10.1.2.3 alpha.test\n", [] {
//       // gethostbyaddr(10.1.2.3) names alpha.test; other addresses fail
//   }));
//
// The files are written to a temporary folder that is removed after the child
// ends, whatever the outcome. The body skips when namespaces cannot be created.
#pragma once

#include <functional>
#include <string>

#include "tests/support/ChildProcess.h"

namespace testsupport {

class HostsResolver {
public:
    static ChildOutcome Run(const std::string& hostsText, const std::function<void()>& body, int timeoutSeconds = 60);
};

}  // namespace testsupport
