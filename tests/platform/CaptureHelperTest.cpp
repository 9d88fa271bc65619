// The capture helper on its own, started the way an attacker or a broken
// caller might start it: with arguments, without its channel, with the wrong
// kind of descriptor or another user's, with garbage, truncated, oversized or
// out-of-bounds requests, a filter the kernel refuses, an interface that does
// not exist, an output ring that is missing or unsound, and a program that
// dies at each step. Each must end in a refusal with its own exit status, with
// no descriptor handed over and nothing written to standard output or error.
// A sound request yields a pcapng stream in the output ring that libpcap
// reads back: the datagrams sent, with the kernel's arrival times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/helper/CaptureHelperProtocol.h"
#include "tests/support/CapableHelper.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

namespace {
using namespace quorvane::capturehelper;
using testsupport::ChildProcess;
using Clock = std::chrono::steady_clock;

enum class Channel { SeqPacket, Stream, Pipe, Closed };
// What comes with the request as the output ring.
enum class RingKind { Sound, None, Pipe, Unsealed, WrongSize, Two };

// The program's end of an output ring, as the program makes it.
struct TestRing {
    std::vector<int> fds;  // sent with the request, then closed
    std::uint8_t* base = nullptr;
    std::size_t bytes = 0;
    RingHeader* Header() const { return reinterpret_cast<RingHeader*>(base); }
    const std::uint8_t* Data() const { return base + kRingHeaderBytes; }
    void CloseFds() {
        for (int fd : fds) close(fd);
        fds.clear();
    }
    ~TestRing() {
        CloseFds();
        if (base != nullptr) munmap(base, RingMappingBytes(bytes));
    }
};

int MemoryFile(std::size_t size, bool sealed) {
    int fd = memfd_create("test-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    if (sealed) {
        EXPECT_EQ(fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
    }
    return fd;
}

void MakeRing(RingKind kind, std::size_t bytes, TestRing* ring) {
    switch (kind) {
    case RingKind::Sound:
    case RingKind::Two:
        ring->fds.push_back(MemoryFile(kRingHeaderBytes + bytes, true));
        // A request out of bounds comes with a ring of its size, unmapped.
        if (bytes < kMinBuffer || bytes > kMaxBuffer || bytes % kRingHeaderBytes != 0) break;
        ring->base = MapRing(ring->fds[0], bytes);
        ring->bytes = bytes;
        ASSERT_NE(ring->base, nullptr);
        ring->Header()->waiting = 1;
        if (kind == RingKind::Two) ring->fds.push_back(MemoryFile(kRingHeaderBytes + bytes, true));
        break;
    case RingKind::None:
        break;
    case RingKind::Pipe: {
        int pair[2];
        ASSERT_EQ(pipe2(pair, O_CLOEXEC), 0);
        ring->fds = {pair[0], pair[1]};
        close(ring->fds[1]);
        ring->fds.pop_back();
        break;
    }
    case RingKind::Unsealed:
        ring->fds.push_back(MemoryFile(kRingHeaderBytes + bytes, false));
        break;
    case RingKind::WrongSize:
        ring->fds.push_back(MemoryFile(kRingHeaderBytes + bytes / 2, true));
        break;
    }
}

std::string SoundRequest(int index = 1, std::vector<FilterInstruction> filter = {}) {
    StartRequest request{kMagic, kStartCapture, index, 1u << 17, 16, 10, 4u << 20,
                         static_cast<std::uint32_t>(filter.size())};
    std::string bytes(reinterpret_cast<const char*>(&request), sizeof request);
    bytes.append(reinterpret_cast<const char*>(filter.data()), filter.size() * sizeof(FilterInstruction));
    return bytes;
}

struct Launch {
    Channel channel = Channel::SeqPacket;
    std::vector<std::string> extraArguments;
    std::string request = SoundRequest();
    bool sendRequest = true;
    RingKind ring = RingKind::Sound;
    int runAsUid = -1;  // -1: as the test
    std::string helper = QV_CAPTURE_HELPER;
    // Runs once the capture has started, with the channel, the helper's pid
    // and the output ring; the channel is closed after it returns.
    std::function<void(int channel, pid_t helper, TestRing& ring)> whileCapturing;
};

struct Outcome {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::vector<Reply> replies;
    std::vector<int> descriptors;
    std::string output;  // everything written to standard output and error
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

// Reads one reply, keeping any descriptor that came with it; false on silence or end.
bool ReadReply(int channel, Outcome* outcome) {
    pollfd wait{channel, POLLIN, 0};
    if (poll(&wait, 1, 2 * kTimeoutMs) != 1) return false;
    char bytes[sizeof(Reply) + 8];
    iovec part{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t count = recvmsg(channel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); count >= 0 && c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            outcome->descriptors.push_back(fd);
        }
    }
    if (count <= 0) return false;
    EXPECT_EQ(count, static_cast<ssize_t>(sizeof(Reply)));
    Reply reply{};
    std::memcpy(&reply, bytes, sizeof reply);
    EXPECT_EQ(reply.magic, kMagic);
    outcome->replies.push_back(reply);
    return true;
}

void SendRequest(int channel, const std::string& request, const std::vector<int>& attach) {
    iovec part{const_cast<char*>(request.data()), request.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (!attach.empty()) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(attach.size() * sizeof(int));
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(attach.size() * sizeof(int));
        std::memcpy(CMSG_DATA(c), attach.data(), attach.size() * sizeof(int));
    }
    sendmsg(channel, &message, MSG_NOSIGNAL);
}

pid_t StartHelper(int theirs, int output, int runAsUid, const std::vector<std::string>& extra,
                  const std::string& helper = QV_CAPTURE_HELPER) {
    std::vector<std::string> words{helper};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};
    pid_t pid = fork();
    if (pid == 0) {
        if (theirs >= 0) dup2(theirs, 0); else close(0);
        dup2(output, 1);
        dup2(output, 2);
        if (runAsUid >= 0 && (setgroups(0, nullptr) != 0 || setresgid(runAsUid, runAsUid, runAsUid) != 0 ||
                              setresuid(runAsUid, runAsUid, runAsUid) != 0))
            _exit(99);
        execve(argv[0], argv.data(), envp);
        _exit(98);
    }
    return pid;
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
    pid_t pid = StartHelper(theirs, output[1], launch.runAsUid, launch.extraArguments, launch.helper);
    ASSERT_GT(pid, 0);
    close(output[1]);
    if (theirs >= 0) close(theirs);

    if (ours >= 0 && launch.channel != Channel::Pipe && ReadReply(ours, outcome) && outcome->replies[0].error == 0) {
        if (launch.sendRequest) {
            StartRequest request{};
            std::memcpy(&request, launch.request.data(), std::min(sizeof request, launch.request.size()));
            TestRing ring;
            MakeRing(launch.ring, request.bufferBytes, &ring);
            SendRequest(ours, launch.request, ring.fds);
            ring.CloseFds();
            if (ReadReply(ours, outcome) && outcome->replies[1].error == 0 && launch.whileCapturing)
                launch.whileCapturing(ours, pid, ring);
        }
    }
    if (ours >= 0) close(ours);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    outcome->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome->output = Drain(output[0]);
    close(output[0]);
}

std::string Bytes(std::initializer_list<std::uint32_t> words) {
    std::string text;
    for (std::uint32_t w : words) text.append(reinterpret_cast<const char*>(&w), sizeof w);
    return text;
}

// A sound request with one field changed.
template <typename Change>
std::string RequestWith(Change change) {
    std::string bytes = SoundRequest();
    StartRequest request;
    std::memcpy(&request, bytes.data(), sizeof request);
    change(request);
    std::memcpy(bytes.data(), &request, sizeof request);
    return bytes;
}

TEST(CaptureHelper, RefusesAMisusedStartWithItsOwnStatusAndNoReply) {
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
    for (const Case& c : cases) {
        Outcome outcome;
        RunHelper(c.launch, &outcome);
        EXPECT_EQ(outcome.status, c.status) << c.name;
        EXPECT_TRUE(outcome.replies.empty()) << c.name;
        EXPECT_TRUE(outcome.descriptors.empty()) << c.name;
        EXPECT_EQ(outcome.output, "") << c.name;
    }
}

TEST(CaptureHelper, RefusesEveryRequestButASoundOne) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    struct Case {
        const char* name;
        Launch launch;
        int status;
        int error;  // of the second reply; -1: no second reply
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, int status, int error, auto change) {
        Launch launch;
        change(launch);
        cases.push_back({name, launch, status, error});
    };
    const FilterInstruction accept{0x06, 0, 0, 0x40000};  // ret #0x40000
    add("peer closes after the first reply", kNoRequest, -1, [](Launch& l) { l.sendRequest = false; });
    add("short request", kBadRequest, -1, [](Launch& l) { l.request = Bytes({kMagic, kStartCapture}); });
    add("garbage", kBadRequest, -1, [](Launch& l) { l.request = std::string(sizeof(StartRequest), '\x5a'); });
    add("longer than its filter", kBadRequest, -1, [](Launch& l) { l.request = SoundRequest() + "abcd"; });
    add("filter cut short", kBadRequest, -1, [&](Launch& l) {
        l.request = SoundRequest(1, {accept, accept});
        l.request.resize(l.request.size() - 8);
    });
    add("oversized message", kBadRequest, -1, [](Launch& l) { l.request = SoundRequest() + std::string(40000, 'x'); });
    add("filter too long", kBadRequest, -1, [&](Launch& l) {
        l.request = SoundRequest(1, std::vector<FilterInstruction>(kMaxFilterLength + 1, accept));
    });
    add("wrong magic", kBadRequest, -1, [](Launch& l) { l.request = RequestWith([](StartRequest& r) { ++r.magic; }); });
    add("unknown request", kBadRequest, -1, [](Launch& l) { l.request = RequestWith([](StartRequest& r) { r.kind = 1; }); });
    add("interface 0", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.interfaceIndex = 0; });
    });
    add("negative interface", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.interfaceIndex = -5; });
    });
    add("block size not a power of two", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.blockSize = 100000; });
    });
    add("one block", kBadRequest, -1, [](Launch& l) { l.request = RequestWith([](StartRequest& r) { r.blockCount = 1; }); });
    add("ring too large", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.blockSize = 1u << 22, r.blockCount = 65; });
    });
    add("no block time-out", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.blockTimeoutMs = 0; });
    });
    add("buffer too large", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.bufferBytes = kMaxBuffer + 1; });
    });
    add("buffer not a whole number of ring units", kBadRequest, -1, [](Launch& l) {
        l.request = RequestWith([](StartRequest& r) { r.bufferBytes += 4096; });
    });
    add("no output ring", kBadRequest, -1, [](Launch& l) { l.ring = RingKind::None; });
    add("a pipe for the ring", kBadRequest, -1, [](Launch& l) { l.ring = RingKind::Pipe; });
    add("a ring that may shrink", kBadRequest, -1, [](Launch& l) { l.ring = RingKind::Unsealed; });
    add("a ring of another size", kBadRequest, -1, [](Launch& l) { l.ring = RingKind::WrongSize; });
    add("two rings", kBadRequest, -1, [](Launch& l) { l.ring = RingKind::Two; });
    add("no such interface", kBindFailed, ENODEV, [](Launch& l) { l.request = SoundRequest(0x7FFFFFF0); });
    add("a filter the kernel refuses", kFilterRefused, EINVAL, [](Launch& l) {
        // A load with no return after it.
        l.request = SoundRequest(1, {FilterInstruction{0x20, 0, 0, 0}});
    });
    add("a jump out of the filter", kFilterRefused, EINVAL, [&](Launch& l) {
        l.request = SoundRequest(1, {FilterInstruction{0x15, 5, 0, 17}, accept});
    });
    for (const Case& c : cases) {
        Outcome outcome;
        RunHelper(c.launch, &outcome);
        EXPECT_EQ(outcome.status, c.status) << c.name;
        ASSERT_FALSE(outcome.replies.empty()) << c.name;
        EXPECT_EQ(outcome.replies[0].error, 0) << c.name << ": the socket opened";
        if (c.error < 0) {
            EXPECT_EQ(outcome.replies.size(), 1u) << c.name;
        } else {
            ASSERT_EQ(outcome.replies.size(), 2u) << c.name;
            EXPECT_EQ(outcome.replies[1].error, c.error) << c.name;
        }
        EXPECT_TRUE(outcome.descriptors.empty()) << c.name << ": no descriptor leaves the helper";
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
    EXPECT_TRUE(outcome.replies.empty());
    EXPECT_EQ(outcome.output, "");
}

TEST(CaptureHelper, WithoutTheCapabilitySendsTheErrorOfSocket) {
    EXPECT_CHILD_PASSED(ChildProcess::Run([] {
        std::string reason;
        if (!testsupport::Privileges::DropNetRaw(&reason)) ChildProcess::FailChild(reason);
        Outcome outcome;
        RunHelper(Launch{}, &outcome);
        EXPECT_EQ(outcome.status, kSocketFailed);
        ASSERT_EQ(outcome.replies.size(), 1u);
        EXPECT_EQ(outcome.replies[0].error, EPERM);
        EXPECT_TRUE(outcome.descriptors.empty());
        EXPECT_EQ(outcome.output, "");
    }));
}

// Reads the stream from the output ring, as the program does, until the
// helper has published nothing for quiet.
std::string ReadStream(int channel, TestRing& ring, std::chrono::milliseconds quiet) {
    std::string bytes;
    std::uint64_t tail = 0;
    pollfd wait{channel, POLLIN, 0};
    for (;;) {
        const std::uint64_t head = __atomic_load_n(&ring.Header()->head, __ATOMIC_SEQ_CST);
        EXPECT_LE(head - tail, ring.bytes);
        if (head != tail) {
            bytes.append(reinterpret_cast<const char*>(ring.Data() + tail % ring.bytes), head - tail);
            tail = head;
            __atomic_store_n(&ring.Header()->tail, tail, __ATOMIC_RELEASE);
            continue;
        }
        __atomic_store_n(&ring.Header()->waiting, 1, __ATOMIC_SEQ_CST);
        if (__atomic_load_n(&ring.Header()->head, __ATOMIC_SEQ_CST) != tail) continue;
        if (poll(&wait, 1, static_cast<int>(quiet.count())) != 1) break;
        char message[16];
        if (recv(channel, message, sizeof message, MSG_DONTWAIT) <= 0) break;
    }
    return bytes;
}

std::string WriteTemporary(const std::string& bytes) {
    char name[] = "/tmp/qv-helper-stream-XXXXXX";
    int fd = mkstemp(name);
    [[maybe_unused]] ssize_t written = write(fd, bytes.data(), bytes.size());
    close(fd);
    return name;
}

TEST(CaptureHelper, StreamsPcapngThatLibpcapReadsWithKernelTimes) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        Launch launch;
        launch.request = SoundRequest(static_cast<int>(if_nametoindex("lo")));
        std::string stream;
        testsupport::UdpFlow flow;
        timespec before{}, after{};
        launch.whileCapturing = [&](int channel, pid_t, TestRing& ring) {
            testsupport::LoopbackSender sender;
            clock_gettime(CLOCK_REALTIME, &before);
            flow = sender.SendUdp(50, 64);
            clock_gettime(CLOCK_REALTIME, &after);
            stream = ReadStream(channel, ring, std::chrono::milliseconds(300));
        };
        Outcome outcome;
        RunHelper(launch, &outcome);
        EXPECT_EQ(outcome.status, kChannelClosed);
        ASSERT_EQ(outcome.replies.size(), 2u);
        EXPECT_EQ(outcome.replies[1].error, 0);
        EXPECT_TRUE(outcome.descriptors.empty());
        ASSERT_EQ(flow.sent, 50);

        // libpcap is the oracle of the format.
        std::string file = WriteTemporary(stream);
        char error[PCAP_ERRBUF_SIZE];
        pcap_t* reader = pcap_open_offline_with_tstamp_precision(file.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
        ASSERT_NE(reader, nullptr) << error;
        EXPECT_EQ(pcap_datalink(reader), DLT_IPV4);
        const std::uint64_t from = before.tv_sec * 1000000000ull + before.tv_nsec;
        const std::uint64_t to = after.tv_sec * 1000000000ull + after.tv_nsec;
        std::uint64_t last = 0;
        int ours = 0;
        pcap_pkthdr* header;
        const u_char* data;
        while (pcap_next_ex(reader, &header, &data) == 1) {
            ASSERT_GE(header->caplen, 20u);
            EXPECT_EQ(data[0] >> 4, 4) << "IPv4 only";
            const std::uint64_t time = header->ts.tv_sec * 1000000000ull + header->ts.tv_usec;  // nanoseconds here
            EXPECT_GE(time, last) << "in arrival order";
            last = time;
            if (data[9] != 17 || (data[22] << 8 | data[23]) != flow.destPort) continue;
            EXPECT_EQ(header->caplen, 20u + 8 + 64);
            EXPECT_GE(time, from);
            EXPECT_LE(time, to) << "stamped on arrival, not when read";
            ++ours;
        }
        pcap_close(reader);
        std::remove(file.c_str());
        EXPECT_EQ(ours, 50) << "each datagram once";
    }));
}

TEST(CaptureHelper, TheFilterPicksDatagramsAndOnlyIPv4Passes) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        // "udp dst port 9" for raw IPv4, as libpcap compiles it, minus fragments.
        const std::vector<FilterInstruction> udpPort9 = {
            {0x30, 0, 0, 9},         // ldb [9]
            {0x15, 0, 4, 17},        // jeq #17 (udp)
            {0xb1, 0, 0, 0},         // ldxb 4*([0]&0xf)
            {0x48, 0, 0, 2},         // ldh [x+2]
            {0x15, 0, 1, 9},         // jeq #9
            {0x06, 0, 0, 0x40000},   // ret #0x40000
            {0x06, 0, 0, 0},         // ret #0
        };
        Launch launch;
        launch.request = SoundRequest(static_cast<int>(if_nametoindex("lo")), udpPort9);
        std::string stream;
        launch.whileCapturing = [&](int channel, pid_t, TestRing& ring) {
            testsupport::LoopbackSender sender;
            sender.SendUdp(5, 10);
            testsupport::LoopbackSender::SendUdpTo("127.0.0.1", 9, 3, 10);
            stream = ReadStream(channel, ring, std::chrono::milliseconds(300));
        };
        Outcome outcome;
        RunHelper(launch, &outcome);
        ASSERT_EQ(outcome.replies.size(), 2u);
        EXPECT_EQ(outcome.replies[1].error, 0);
        std::string file = WriteTemporary(stream);
        char error[PCAP_ERRBUF_SIZE];
        pcap_t* reader = pcap_open_offline(file.c_str(), error);
        ASSERT_NE(reader, nullptr) << error;
        int count = 0;
        pcap_pkthdr* header;
        const u_char* data;
        while (pcap_next_ex(reader, &header, &data) == 1) {
            EXPECT_EQ(data[23], 9) << "only the filter's datagrams";
            ++count;
        }
        pcap_close(reader);
        std::remove(file.c_str());
        EXPECT_EQ(count, 3);
    }));
}

// A program that says it has read what was never written must not get the
// helper to write over what it has yet to read: the stream ends.
TEST(CaptureHelper, ATailPastTheStreamEndsIt) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        Launch launch;
        launch.request = SoundRequest(static_cast<int>(if_nametoindex("lo")));
        StartRequest request;
        std::memcpy(&request, launch.request.data(), sizeof request);
        request.bufferBytes = kMinBuffer;
        std::memcpy(launch.request.data(), &request, sizeof request);
        bool ended = false;
        launch.whileCapturing = [&](int channel, pid_t, TestRing& ring) {
            __atomic_store_n(&ring.Header()->tail, std::uint64_t{1} << 40, __ATOMIC_RELEASE);
            testsupport::LoopbackSender sender;
            sender.SendUdp(1000, 1400);  // more than the ring holds
            pollfd hangUp{channel, 0, 0};
            ended = poll(&hangUp, 1, 3000) == 1 && (hangUp.revents & POLLHUP) != 0;
        };
        Outcome outcome;
        RunHelper(launch, &outcome);
        EXPECT_TRUE(ended) << "the helper ended by itself";
        EXPECT_EQ(outcome.status, kStreamFailed);
        EXPECT_EQ(outcome.output, "");
    }));
}

bool Gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// The program dies (SIGKILL) at each step of the exchange: before the first
// reply is read, before the request, right after it, and while streaming. The
// helper must end by itself, at once, every time.
TEST(CaptureHelper, EndsWhenTheProgramDiesAtAnyStep) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        // Orphaned helpers come to this process, which reaps them.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        for (int step = 0; step < 4; ++step) {
            int report[2];
            ASSERT_EQ(pipe(report), 0);
            pid_t program = fork();
            ASSERT_GE(program, 0);
            if (program == 0) {
                int pair[2];
                socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
                int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
                pid_t helper = StartHelper(pair[1], devNull, -1, {});
                close(pair[1]);
                [[maybe_unused]] ssize_t written = write(report[1], &helper, sizeof helper);
                Outcome outcome;
                if (step >= 1) ReadReply(pair[0], &outcome);
                TestRing ring;
                MakeRing(RingKind::Sound, 4u << 20, &ring);
                if (step >= 2) SendRequest(pair[0], SoundRequest(static_cast<int>(if_nametoindex("lo"))), ring.fds);
                if (step >= 3) {
                    ReadReply(pair[0], &outcome);
                    testsupport::LoopbackSender sender;
                    sender.SendUdp(20, 10);
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                raise(SIGKILL);
            }
            close(report[1]);
            pid_t helper = -1;
            ASSERT_EQ(read(report[0], &helper, sizeof helper), static_cast<ssize_t>(sizeof helper));
            close(report[0]);
            int status;
            ASSERT_EQ(waitpid(program, &status, 0), program);
            const auto deadline = Clock::now() + std::chrono::seconds(3);
            pid_t reaped = 0;
            while (reaped != helper && Clock::now() < deadline) {
                reaped = waitpid(helper, &status, WNOHANG);
                if (reaped != helper) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_EQ(reaped, helper) << "step " << step << ": the helper outlived the program";
            if (reaped != helper) {
                kill(helper, SIGKILL);
                waitpid(helper, &status, 0);
            }
            EXPECT_TRUE(Gone(helper)) << "step " << step;
        }
    }));
}

// The lines of /proc/<pid>/status that say what the process may do.
std::string Line(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

// An ordinary user who may run the helper (as a member of the group may) and
// runs it by hand: it gets a stream, never a descriptor, and the helper holds
// no capability and no way to do more once it captures.
TEST(CaptureHelper, RunByHandItHandsOverNoDescriptorAndKeepsNoCapability) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        testsupport::CapableHelper capable(QV_CAPTURE_HELPER);
        if (capable.Path().empty()) ChildProcess::SkipChild(capable.Reason());
        const int lo = static_cast<int>(if_nametoindex("lo"));
        EXPECT_CHILD_PASSED(ChildProcess::Run([&] {
            std::string reason;
            if (!testsupport::Privileges::BecomeUser(65534, 65534, &reason)) ChildProcess::FailChild(reason);
            Launch launch;
            launch.helper = capable.Path();
            launch.request = SoundRequest(lo);
            std::string stream;
            std::string capabilities, permitted, noNewPrivileges, seccomp;
            launch.whileCapturing = [&](int channel, pid_t helper, TestRing& ring) {
                testsupport::LoopbackSender sender;
                sender.SendUdp(3, 10);
                stream = ReadStream(channel, ring, std::chrono::milliseconds(300));
                capabilities = Line(helper, "CapEff");
                permitted = Line(helper, "CapPrm");
                noNewPrivileges = Line(helper, "NoNewPrivs");
                seccomp = Line(helper, "Seccomp");
            };
            Outcome outcome;
            RunHelper(launch, &outcome);
            ASSERT_EQ(outcome.replies.size(), 2u) << "the member may capture";
            EXPECT_EQ(outcome.replies[0].error, 0);
            EXPECT_EQ(outcome.replies[1].error, 0);
            EXPECT_TRUE(outcome.descriptors.empty()) << "no descriptor ever leaves the helper";
            EXPECT_EQ(outcome.status, kChannelClosed);
            ASSERT_GE(stream.size(), 4u);
            EXPECT_EQ(stream.compare(0, 4, "\x0A\x0D\x0D\x0A", 4), 0) << "a pcapng stream";
            EXPECT_EQ(capabilities, "\t0000000000000000");
            EXPECT_EQ(permitted, "\t0000000000000000");
            EXPECT_EQ(noNewPrivileges, "\t1");
            EXPECT_EQ(seccomp, "\t2") << "filtered";
        }));
    }));
}

}  // namespace
