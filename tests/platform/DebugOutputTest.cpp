// OutputDebugStringA: nothing at all unless QUORVANE_DEBUG=1 asks for it;
// then printable text and UTF-8 arrive on standard error byte for byte,
// control characters and broken bytes escaped, and lines of several threads
// do not interleave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/WinKernel.h"

using namespace win;

namespace {

/// Sends standard error to a file for the life of the object.
class CapturedStderr {
public:
    CapturedStderr() : m_path("/tmp/qv-stderr-" + std::to_string(getpid())) {
        m_saved = dup(STDERR_FILENO);
        const int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~CapturedStderr() { unlink(m_path.c_str()); }
    std::string Finish() {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string m_path;
    int m_saved;
};

/// The trace is wanted in every case below but the first.
class DebugOutputTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("QUORVANE_DEBUG", "1", 1); }
    void TearDown() override { unsetenv("QUORVANE_DEBUG"); }
};

TEST_F(DebugOutputTest, SilentUnlessAskedFor) {
    for (const char* value : {static_cast<const char*>(nullptr), "", "0", "yes", "10"}) {
        SCOPED_TRACE(value ? value : "(unset)");
        if (value)
            setenv("QUORVANE_DEBUG", value, 1);
        else
            unsetenv("QUORVANE_DEBUG");
        CapturedStderr captured;
        OutputDebugStringA("Opened reg key\n");
        OutputDebugStringA("Read default adapter key\n");
        EXPECT_EQ(captured.Finish(), "");
    }
    setenv("QUORVANE_DEBUG", "1", 1);
    CapturedStderr captured;
    OutputDebugStringA("Opened reg key\n");
    EXPECT_EQ(captured.Finish(), "Opened reg key\n");
}

TEST_F(DebugOutputTest, PrintableTextIsWrittenUnchanged) {
    CapturedStderr captured;
    OutputDebugStringA("Opened reg key\n");
    OutputDebugStringA("szTemp = , m_sAdapter = 10.0.0.1, GetLastError = 0\n");
    OutputDebugStringA("%d %s caf\xc3\xa9 \xe2\x82\xac no newline");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    EXPECT_EQ(captured.Finish(), "Opened reg key\nszTemp = , m_sAdapter = 10.0.0.1, GetLastError = 0\n"
                                 "%d %s caf\xc3\xa9 \xe2\x82\xac no newline");
}

// A stored setting is copied into a trace line: nothing in it may reach a
// terminal as a control sequence or as a line of its own.
TEST_F(DebugOutputTest, ControlCharactersAndBrokenBytesAreEscaped) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"szTemp = \x1b]2;owned\x07\x1b[2J\n", "szTemp = \\x1b]2;owned\\x07\\x1b[2J\n"},
        {"a\nforged line\n", "a\\x0aforged line\n"},
        {"cr\rtab\tdel\x7f", "cr\\x0dtab\\x09del\\x7f"},
        {"c1 \xc2\x9b csi", "c1 \\xc2\\x9b csi"},                   // U+009B, a C1 control
        {"bad \xe9\xff overlong \xc0\xaf", "bad \\xe9\\xff overlong \\xc0\\xaf"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"back\\slash \\x41", "back\\\\slash \\\\x41"},  // escapes stay unambiguous
    };
    for (const Case& c : cases) {
        CapturedStderr captured;
        OutputDebugStringA(c.in);
        EXPECT_EQ(captured.Finish(), c.out) << c.in;
    }
}

TEST_F(DebugOutputTest, LinesFromSeveralThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    CapturedStderr captured;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string line = "thread " + std::to_string(t) + " " + std::string(100, static_cast<char>('a' + t)) + "\n";
            for (int i = 0; i < kLines; ++i) OutputDebugStringA(line.c_str());
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::istringstream lines(captured.Finish());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.size(), 109u) << line;
        const int t = line[7] - '0';
        EXPECT_EQ(line, "thread " + std::to_string(t) + " " + std::string(100, static_cast<char>('a' + t)));
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
