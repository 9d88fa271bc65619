// The program's side of the capture-socket helper: a socket asked of the real
// helper captures like one created directly; a helper that is missing, stays
// silent, exits, answers garbage, attaches the wrong descriptors or refuses
// yields INVALID_SOCKET within the time limit, with no descriptor leaked and
// no child left behind; and the helper is started with no arguments, an empty
// environment, no signal blocked and no descriptor but its socket.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

using namespace win;
using testsupport::ChildProcess;
using testsupport::NetNamespace;
using win::testing::PacketSocketSource;
using win::testing::SetPacketSocketSource;

namespace {

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

class PacketSocketSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        m_dir = std::filesystem::temp_directory_path() / ("quorvane-helper-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        SetPacketSocketSource(PacketSocketSource::Automatic);
        std::filesystem::remove_all(m_dir);
        WSACleanup();
    }
    // A copy of the stand-in helper under the name of its behaviour.
    std::string Fake(const std::string& mode) {
        std::filesystem::path path = m_dir / mode;
        std::filesystem::copy_file(QV_FAKE_CAPTURE_HELPER, path, std::filesystem::copy_options::overwrite_existing);
        return path.string();
    }
    std::filesystem::path m_dir;
};

TEST_F(PacketSocketSourceTest, EveryMisbehaviourOfTheHelperEndsInAFailedSocket) {
    const char* modes[] = {"silent", "exit", "garbage", "no-descriptor", "pipe-descriptor", "two-descriptors", "refuse"};
    int before = OpenDescriptors();
    for (const char* mode : modes) {
        SetPacketSocketSource(PacketSocketSource::Helper, Fake(mode).c_str(), 500);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET) << mode;
        EXPECT_EQ(WSAGetLastError(), WSAEACCES) << mode;
        // Bounded: the silent one is killed at the limit, not waited for.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << mode;
        int status;
        EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << mode << ": a helper was left unreaped";
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(PacketSocketSourceTest, AMissingHelperMeansNoRightToCapture) {
    SetPacketSocketSource(PacketSocketSource::Helper, (m_dir / "absent").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
    std::ofstream(m_dir / "not-executable") << "#!/bin/sh\n";
    SetPacketSocketSource(PacketSocketSource::Helper, (m_dir / "not-executable").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
}

TEST_F(PacketSocketSourceTest, HelperStartsWithNothingButItsSocket) {
    // Descriptors the program has open without close-on-exec must not reach it.
    int inherited = dup(1);
    ASSERT_GE(inherited, 3);
    SetPacketSocketSource(PacketSocketSource::Helper, Fake("inspect").c_str());
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    close(inherited);
    std::stringstream report;
    report << std::ifstream(m_dir / "report").rdbuf();
    // glibc may open 1 and 2 on /dev/null for a closed standard descriptor.
    std::string text = report.str();
    EXPECT_NE(text.find("arguments 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("environment 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("channel seqpacket\n"), std::string::npos) << text;
    EXPECT_NE(text.find("descriptors 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("blocked none\n"), std::string::npos) << text;
}

TEST_F(PacketSocketSourceTest, ASocketFromTheHelperCapturesLikeADirectOne) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        SetPacketSocketSource(PacketSocketSource::Helper, QV_CAPTURE_HELPER);
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        ASSERT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        unsigned on = RCVALL_ON;
        DWORD returned = 0;
        ASSERT_EQ(WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr), 0);
        testsupport::LoopbackSender sender;
        ASSERT_EQ(sender.SendUdp(1, 9).sent, 1);
        char buffer[2048];
        int count = recv(s, buffer, sizeof buffer, 0);
        EXPECT_GE(count, 20 + 8);
        EXPECT_EQ(buffer[9], 17);  // UDP
        closesocket(s);
        WSACleanup();
    }));
}

}  // namespace
