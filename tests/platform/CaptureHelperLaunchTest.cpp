// The program's side of the capture helper: a helper that is missing, stays
// silent, exits, answers garbage, attaches descriptors or refuses yields
// INVALID_SOCKET within the time limit, with no descriptor leaked and no child
// left behind; a stream that breaks the format, or claims a block of a
// gigabyte, or whose ring claims more than it holds, ends the capture with
// FD_CLOSE instead of being trusted; a helper
// that ends its stream because the interface went away gives FD_CLOSE with
// WSAENETDOWN after its last datagram. The helper is started with no
// arguments, an empty environment, no signal blocked and no descriptor but
// its channel.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"

using namespace win;
using win::testing::SetCaptureHelper;

namespace {

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

// True once this process has no child at all. A helper is reaped when the
// last reference to its socket goes, which the socket's watcher thread may
// hold a moment after closesocket: wait for that, up to a bound.
bool NoChildLeft() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status;
    while (waitpid(-1, &status, WNOHANG) != -1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(5000);
    }
    return errno == ECHILD;
}

class CaptureHelperLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        m_dir = std::filesystem::temp_directory_path() / ("quorvane-helper-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        SetCaptureHelper(nullptr);
        std::filesystem::remove_all(m_dir);
        WSACleanup();
    }
    // A copy of the stand-in helper under the name of its behaviour.
    std::string Fake(const std::string& mode) {
        std::filesystem::path path = m_dir / mode;
        std::filesystem::copy_file(QV_FAKE_CAPTURE_HELPER, path, std::filesystem::copy_options::overwrite_existing);
        return path.string();
    }
    // A capture socket started on loopback the way the engine starts one.
    SOCKET Start(HANDLE event) {
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr("127.0.0.1");
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        unsigned on = RCVALL_ON;
        DWORD returned = 0;
        EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr), 0);
        EXPECT_EQ(WSAEventSelect(s, event, FD_READ | FD_CLOSE), 0);
        return s;
    }
    // Takes datagrams as the engine does until FD_CLOSE; returns its error
    // code (0 when none came in time) and counts the datagrams.
    int ReadUntilClose(SOCKET s, HANDLE event, int* datagrams, FILETIME* lastArrival) {
        char buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (WaitForSingleObject(event, 100) != WAIT_OBJECT_0) continue;
            WSANETWORKEVENTS events{};
            if (WSAEnumNetworkEvents(s, event, &events) != 0) return 0;
            if (events.lNetworkEvents == FD_CLOSE) return events.iErrorCode[FD_CLOSE_BIT];
            while (WSARecvWithArrivalTime(s, buffer, sizeof buffer, lastArrival) > 0) ++*datagrams;
        }
        return 0;
    }
    std::filesystem::path m_dir;
};

TEST_F(CaptureHelperLaunchTest, EveryMisbehaviourOfTheHelperEndsInAFailedSocket) {
    const char* modes[] = {"silent", "exit", "garbage", "pipe-descriptor", "two-descriptors", "refuse"};
    int before = OpenDescriptors();
    for (const char* mode : modes) {
        SetCaptureHelper(Fake(mode).c_str(), 500);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET) << mode;
        EXPECT_EQ(WSAGetLastError(), WSAEACCES) << mode;
        // Bounded: the silent one is killed at the limit, not waited for.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << mode;
        EXPECT_TRUE(NoChildLeft()) << mode << ": a helper was left unreaped";
    }
    EXPECT_EQ(OpenDescriptors(), before) << "descriptors that came with a reply are closed";
}

TEST_F(CaptureHelperLaunchTest, AMissingHelperMeansNoRightToCapture) {
    SetCaptureHelper((m_dir / "absent").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
    std::ofstream(m_dir / "not-executable") << "#!/bin/sh\n";
    SetCaptureHelper((m_dir / "not-executable").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
}

TEST_F(CaptureHelperLaunchTest, HelperStartsWithNothingButItsChannel) {
    // Descriptors the program has open without close-on-exec must not reach it.
    int inherited = dup(1);
    ASSERT_GE(inherited, 3);
    SetCaptureHelper(Fake("inspect").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    close(inherited);
    std::stringstream report;
    report << std::ifstream(m_dir / "report").rdbuf();
    std::string text = report.str();
    EXPECT_NE(text.find("arguments 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("environment 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("channel seqpacket\n"), std::string::npos) << text;
    EXPECT_NE(text.find("descriptors 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("blocked none\n"), std::string::npos) << text;
}

TEST_F(CaptureHelperLaunchTest, ABrokenStreamEndsTheCaptureAndIsNotTrusted) {
    for (const char* mode : {"stream-garbage", "stream-huge", "stream-head-past"}) {
        SetCaptureHelper(Fake(mode).c_str(), 1000);
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SOCKET s = Start(event);
        int datagrams = 0;
        FILETIME arrival{};
        EXPECT_EQ(ReadUntilClose(s, event, &datagrams, &arrival), WSAECONNABORTED) << mode;
        EXPECT_EQ(datagrams, 0) << mode;
        char byte;
        EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR) << mode;
        EXPECT_EQ(WSAGetLastError(), WSAECONNABORTED) << mode;
        EXPECT_EQ(closesocket(s), 0);
        CloseHandle(event);
        EXPECT_TRUE(NoChildLeft()) << mode;
    }
}

TEST_F(CaptureHelperLaunchTest, AnInterfaceGoneGivesItsLastDatagramsThenItsReason) {
    SetCaptureHelper(Fake("stream-then-exit").c_str(), 1000);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SOCKET s = Start(event);
    int datagrams = 0;
    FILETIME arrival{};
    EXPECT_EQ(ReadUntilClose(s, event, &datagrams, &arrival), WSAENETDOWN);
    EXPECT_EQ(datagrams, 1);
    // 1,000,000.5 s after 1970 as a file time.
    const ULONGLONG expected = 116444736000000000ULL + 10000005000000ULL;
    EXPECT_EQ((ULONGLONG{arrival.dwHighDateTime} << 32) | arrival.dwLowDateTime, expected);
    EXPECT_EQ(closesocket(s), 0);
    CloseHandle(event);
    EXPECT_TRUE(NoChildLeft());
}

}  // namespace
