// Runs a piece of a test in a child process, so that it can change what a
// process may change only for itself (drop a capability, enter a namespace,
// mount over /etc) without touching the test runner. The child's GoogleTest
// assertions print as usual; the parent learns whether the child passed,
// failed, skipped, crashed or ran out of time, and the test checks that with
// EXPECT_CHILD_PASSED.
//
//   EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run([] {
//       EXPECT_EQ(...);                       // runs in the child
//   }));
//
// Fork happens from the calling thread only: a body must not rely on threads
// or thread pools that the parent created before the call.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

struct ChildOutcome {
    enum class Kind { Passed, Failed, Skipped, Crashed, TimedOut, NotStarted };
    Kind kind = Kind::NotStarted;
    std::string detail;  // skip reason, failure note or signal
};

class ChildProcess {
public:
    /// Runs body in a forked child and waits for it, at most timeoutSeconds
    /// (then the child is killed). The child passes when body returns without
    /// a failed assertion or an exception; a GTEST_SKIP in body skips.
    static ChildOutcome Run(const std::function<void()>& body, int timeoutSeconds = 60);

    /// In a child: ends it at once as skipped with the reason (for set-up steps
    /// that find the machine unable to do what the test needs).
    [[noreturn]] static void SkipChild(const std::string& reason);
    /// In a child: ends it at once as failed with the reason.
    [[noreturn]] static void FailChild(const std::string& reason);
};

const char* ToString(ChildOutcome::Kind kind);

}  // namespace testsupport

/// Passes when the child passed, skips the test when the child skipped, and
/// fails with the child's note otherwise.
#define EXPECT_CHILD_PASSED(outcomeExpression)                                                       \
    do {                                                                                             \
        ::testsupport::ChildOutcome qvChildOutcome = (outcomeExpression);                            \
        if (qvChildOutcome.kind == ::testsupport::ChildOutcome::Kind::Skipped)                       \
            GTEST_SKIP() << qvChildOutcome.detail;                                                   \
        EXPECT_EQ(qvChildOutcome.kind, ::testsupport::ChildOutcome::Kind::Passed)                    \
            << ::testsupport::ToString(qvChildOutcome.kind) << ": " << qvChildOutcome.detail;        \
    } while (false)
