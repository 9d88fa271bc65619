// Forking a test body into a child process and reading back its outcome.
// The child reports through its exit status (0 passed, 1 failed, 2 skipped)
// and a pipe that carries the reason text.
#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

namespace testsupport {

namespace {
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitSkipped = 2;

int g_reportFd = -1;  // the child's end of the reason pipe

[[noreturn]] void EndChild(int status, const std::string& reason) {
    if (g_reportFd >= 0 && !reason.empty()) {
        [[maybe_unused]] ssize_t ignored = write(g_reportFd, reason.data(), reason.size());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
    return text;
}
}  // namespace

const char* ToString(ChildOutcome::Kind kind) {
    switch (kind) {
    case ChildOutcome::Kind::Passed: return "passed";
    case ChildOutcome::Kind::Failed: return "failed";
    case ChildOutcome::Kind::Skipped: return "skipped";
    case ChildOutcome::Kind::Crashed: return "crashed";
    case ChildOutcome::Kind::TimedOut: return "timed out";
    case ChildOutcome::Kind::NotStarted: return "not started";
    }
    return "?";
}

void ChildProcess::SkipChild(const std::string& reason) { EndChild(kExitSkipped, reason); }

void ChildProcess::FailChild(const std::string& reason) { EndChild(kExitFailed, reason); }

ChildOutcome ChildProcess::Run(const std::function<void()>& body, int timeoutSeconds) {
    ChildOutcome outcome;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        outcome.detail = std::string("pipe: ") + std::strerror(errno);
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        outcome.detail = std::string("fork: ") + std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return outcome;
    }
    if (child == 0) {
        close(report[0]);
        g_reportFd = report[1];
        try {
            body();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "exception in child: " << error.what();
        } catch (...) {
            ADD_FAILURE() << "unknown exception in child";
        }
        if (::testing::Test::HasFailure()) EndChild(kExitFailed, "an assertion failed in the child (see above)");
        if (::testing::Test::IsSkipped()) EndChild(kExitSkipped, "skipped in the child");
        EndChild(kExitPassed, "");
    }

    close(report[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    bool ended = false;
    while (!ended) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            ended = true;
        } else if (done < 0 && errno != EINTR) {
            break;
        } else if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            close(report[0]);
            outcome.kind = ChildOutcome::Kind::TimedOut;
            outcome.detail = "child killed after " + std::to_string(timeoutSeconds) + " s";
            return outcome;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    outcome.detail = ReadAll(report[0]);
    close(report[0]);
    if (!ended) {
        outcome.detail = "waitpid failed";
    } else if (WIFSIGNALED(status)) {
        outcome.kind = ChildOutcome::Kind::Crashed;
        outcome.detail = std::string("signal ") + strsignal(WTERMSIG(status));
    } else if (WEXITSTATUS(status) == kExitPassed) {
        outcome.kind = ChildOutcome::Kind::Passed;
    } else if (WEXITSTATUS(status) == kExitSkipped) {
        outcome.kind = ChildOutcome::Kind::Skipped;
    } else {
        outcome.kind = ChildOutcome::Kind::Failed;
        if (outcome.detail.empty()) outcome.detail = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return outcome;
}

}  // namespace testsupport
