// The capture-socket helper on its own, started the way an attacker or a
// broken caller might start it: with arguments, without its socket, with the
// wrong kind of descriptor or another user's socket, with malformed requests.
// It must refuse each with its own non-zero status, answer nothing, and
// write nothing to standard output or error; a sound request yields a packet
// socket when the helper holds CAP_NET_RAW and the errno of socket() when not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/helper/CaptureHelperProtocol.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Privileges.h"

namespace {
using namespace quorvane::capturehelper;
using testsupport::ChildProcess;

enum class Channel { SeqPacket, Stream, Pipe, Closed };

struct Launch {
    Channel channel = Channel::SeqPacket;
    std::vector<std::string> extraArguments;
    std::string request = std::string(reinterpret_cast<const char*>(&kRequest), sizeof kRequest);
    bool sendRequest = true;
    bool attachDescriptor = false;
    int runAsUid = -1;  // -1: as the test
    static constexpr Request kRequest{kMagic, kOpenPacketSocket};
};

struct Outcome {
    int status = -1;        // exit status, or -1 when it did not exit normally
    bool replied = false;
    Reply reply{};
    std::vector<int> descriptors;
    std::string output;     // everything written to standard output and error
    ~Outcome() {
        for (int fd : descriptors) close(fd);
    }
};

std::string Drain(int fd) {
    std::string text;
    char buffer[256];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
    return text;
}

void RunHelper(const Launch& launch, Outcome* outcome) {
    int ours = -1, theirs = -1;
    int pair[2];
    switch (launch.channel) {
    case Channel::SeqPacket:
    case Channel::Stream:
        ASSERT_EQ(socketpair(AF_UNIX, (launch.channel == Channel::Stream ? SOCK_STREAM : SOCK_SEQPACKET) | SOCK_CLOEXEC,
                             0, pair), 0);
        ours = pair[0];
        theirs = pair[1];
        break;
    case Channel::Pipe:
        ASSERT_EQ(pipe2(pair, O_CLOEXEC), 0);
        ours = pair[1];
        theirs = pair[0];
        break;
    case Channel::Closed:
        break;
    }
    int output[2];
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);

    std::vector<std::string> words{QV_CAPTURE_HELPER};
    words.insert(words.end(), launch.extraArguments.begin(), launch.extraArguments.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (theirs >= 0) dup2(theirs, 0); else close(0);
        dup2(output[1], 1);
        dup2(output[1], 2);
        if (launch.runAsUid >= 0 && (setgroups(0, nullptr) != 0 || setresgid(launch.runAsUid, launch.runAsUid, launch.runAsUid) != 0 ||
                                     setresuid(launch.runAsUid, launch.runAsUid, launch.runAsUid) != 0))
            _exit(99);
        execve(argv[0], argv.data(), envp);
        _exit(98);
    }
    close(output[1]);
    if (theirs >= 0) close(theirs);

    if (ours >= 0 && !launch.sendRequest) {
        close(ours);
        ours = -1;
    } else if (ours >= 0 && launch.channel != Channel::Pipe) {
        iovec part{const_cast<char*>(launch.request.data()), launch.request.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        if (launch.attachDescriptor) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &output[0], sizeof(int));
        }
        sendmsg(ours, &message, MSG_NOSIGNAL);
    } else if (ours >= 0) {
        [[maybe_unused]] ssize_t ignored = write(ours, launch.request.data(), launch.request.size());
    }

    if (ours >= 0 && launch.channel != Channel::Pipe) {
        pollfd wait{ours, POLLIN, 0};
        if (poll(&wait, 1, 2 * kTimeoutMs) == 1) {
            char bytes[sizeof(Reply) + 8];
            iovec part{bytes, sizeof bytes};
            alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            ssize_t count = recvmsg(ours, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
            if (count > 0) {
                outcome->replied = true;
                EXPECT_EQ(count, static_cast<ssize_t>(sizeof(Reply)));
                std::memcpy(&outcome->reply, bytes, sizeof(Reply));
                for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                    for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                        int fd;
                        std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                        outcome->descriptors.push_back(fd);
                    }
                }
            }
        }
    }
    if (ours >= 0) close(ours);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    outcome->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome->output = Drain(output[0]);
    close(output[0]);
}

int SocketOption(int fd, int option) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(fd, SOL_SOCKET, option, &value, &length);
    return value;
}

std::string Bytes(std::initializer_list<std::uint32_t> words) {
    std::string text;
    for (std::uint32_t w : words) text.append(reinterpret_cast<const char*>(&w), sizeof w);
    return text;
}

TEST(CaptureHelper, RefusesEverythingButOneSoundRequest) {
    struct Case {
        const char* name;
        Launch launch;
        int status;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, int status, auto change) {
        Launch launch;
        change(launch);
        cases.push_back({name, launch, status});
    };
    add("an argument", kBadArguments, [](Launch& l) { l.extraArguments = {"eth0"}; });
    add("an empty argument", kBadArguments, [](Launch& l) { l.extraArguments = {""}; });
    add("no descriptor 0", kBadChannel, [](Launch& l) { l.channel = Channel::Closed; });
    add("a pipe", kBadChannel, [](Launch& l) { l.channel = Channel::Pipe; });
    add("a stream socket", kBadChannel, [](Launch& l) { l.channel = Channel::Stream; });
    add("peer closes at once", kNoRequest, [](Launch& l) { l.sendRequest = false; });
    add("short request", kBadRequest, [](Launch& l) { l.request = Bytes({kMagic}); });
    add("long request", kBadRequest, [](Launch& l) { l.request = Bytes({kMagic, kOpenPacketSocket, 0}); });
    add("wrong magic", kBadRequest, [](Launch& l) { l.request = Bytes({kMagic + 1, kOpenPacketSocket}); });
    add("unknown request", kBadRequest, [](Launch& l) { l.request = Bytes({kMagic, 2}); });
    add("request with a descriptor", kBadRequest, [](Launch& l) { l.attachDescriptor = true; });
    for (const Case& c : cases) {
        Outcome outcome;
        RunHelper(c.launch, &outcome);
        EXPECT_EQ(outcome.status, c.status) << c.name;
        EXPECT_FALSE(outcome.replied) << c.name;
        EXPECT_TRUE(outcome.descriptors.empty()) << c.name;
        EXPECT_EQ(outcome.output, "") << c.name;
    }
}

TEST(CaptureHelper, RefusesAChannelOfAnotherUser) {
    if (getuid() != 0) GTEST_SKIP() << "starting the helper as another user needs root";
    Launch launch;
    launch.runAsUid = 65534;  // nobody; the socket pair belongs to root
    Outcome outcome;
    RunHelper(launch, &outcome);
    EXPECT_EQ(outcome.status, kBadChannel);
    EXPECT_FALSE(outcome.replied);
    EXPECT_EQ(outcome.output, "");
}

TEST(CaptureHelper, HandsOverOnePacketSocket) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    Outcome outcome;
    RunHelper(Launch{}, &outcome);
    EXPECT_EQ(outcome.status, kHandedOver);
    ASSERT_TRUE(outcome.replied);
    EXPECT_EQ(outcome.reply.magic, kMagic);
    EXPECT_EQ(outcome.reply.error, 0);
    ASSERT_EQ(outcome.descriptors.size(), 1u);
    int fd = outcome.descriptors[0];
    EXPECT_EQ(SocketOption(fd, SO_DOMAIN), AF_PACKET);
    EXPECT_EQ(SocketOption(fd, SO_TYPE), SOCK_DGRAM);
    EXPECT_EQ(SocketOption(fd, SO_PROTOCOL), 0);  // delivers nothing until bound with a protocol
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(outcome.output, "");
}

TEST(CaptureHelper, WithoutTheCapabilitySendsTheErrorOfSocket) {
    EXPECT_CHILD_PASSED(ChildProcess::Run([] {
        std::string reason;
        if (!testsupport::Privileges::DropNetRaw(&reason)) ChildProcess::FailChild(reason);
        Outcome outcome;
        RunHelper(Launch{}, &outcome);
        EXPECT_EQ(outcome.status, kSocketFailed);
        ASSERT_TRUE(outcome.replied);
        EXPECT_EQ(outcome.reply.error, EPERM);
        EXPECT_TRUE(outcome.descriptors.empty());
        EXPECT_EQ(outcome.output, "");
    }));
}

}  // namespace
