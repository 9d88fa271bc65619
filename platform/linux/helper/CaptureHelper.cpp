// quorvane-capture: the capture helper. Installed root:quorvane 0750 with
// cap_net_raw=ep, it is the only privileged piece of the program, and it
// captures: it opens one packet socket, takes one request over descriptor 0
// (see CaptureHelperProtocol.h), binds the socket to the interface, attaches
// the program's compiled filter behind its own IPv4 check, sets up the receive
// ring, then drops every capability and locks itself down with seccomp to
// polling, reading its socket's statistics and writing its channel. It then
// writes every datagram as pcapng with the kernel's arrival time into the
// output ring the program shares with it. The program never holds the
// socket, so it can capture but never send.
//
// A stalled program costs nothing until the output ring (the program says how
// large) and then the receive ring are full; beyond that the kernel drops,
// and the drops go out in statistics blocks. A link that goes down and up
// keeps the capture; an interface that goes away ends it with a last
// statistics block and its own exit status. Links only the C and C++ runtimes
// and libseccomp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/linux/helper/CaptureHelperProtocol.h"

using namespace quorvane::capturehelper;

namespace {
constexpr int kChannel = 0;
constexpr int kPrefixLength = 4;

constexpr int kFullCheckMs = 10;  // how often a full output ring is looked at again

int g_fd = -1;  // the packet socket
std::uint8_t* g_ring = nullptr;
std::uint32_t g_blockSize = 0, g_blockCount = 0, g_block = 0;
const std::uint8_t* g_frame = nullptr;  // next datagram of the open block
std::uint32_t g_framesLeft = 0;
// The output ring (see MapRing): stream bytes written, published and known
// read; the program's tail is read only when the room known is too small.
int g_ringFd = -1;
RingHeader* g_shared = nullptr;
std::uint8_t* g_data = nullptr;
std::uint64_t g_ringBytes = 0, g_written = 0, g_published = 0, g_read = 0;
bool g_outputFull = false;
bool g_tailWrong = false;
std::uint64_t g_received = 0, g_dropped = 0, g_droppedSent = 0, g_taken = 0;

int SocketOption(int fd, int option) {
    int value = -1;
    socklen_t length = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0) return -1;
    return value;
}

// Descriptor 0 must be one end of a seqpacket socket pair whose other end
// belongs to the user who started the helper.
bool ChannelIsSound() {
    if (SocketOption(kChannel, SO_DOMAIN) != AF_UNIX || SocketOption(kChannel, SO_TYPE) != SOCK_SEQPACKET) return false;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(kChannel, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.pid > 0 && peer.uid == getuid();
}

bool SendReply(int error) {
    Reply reply{kMagic, error};
    ssize_t sent;
    while ((sent = send(kChannel, &reply, sizeof reply, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == static_cast<ssize_t>(sizeof reply);
}

// Keeps the one descriptor that came with a message in g_ringFd; closes
// every descriptor when there were more.
int TakeAttached(msghdr* message) {
    int count = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(message); c != nullptr; c = CMSG_NXTHDR(message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i, ++count) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof fd, sizeof fd);
            if (g_ringFd < 0) g_ringFd = fd; else close(fd);
        }
    }
    if (count > 1) close(g_ringFd), g_ringFd = -1;
    return count;
}

// The ring must be a memfd of the size the request gives that can neither
// shrink nor grow, so that no page of it can vanish under the helper.
bool RingIsSound(std::uint32_t bufferBytes) {
    struct stat status{};
    const int seals = fcntl(g_ringFd, F_GET_SEALS);
    return g_ringFd >= 0 && fstat(g_ringFd, &status) == 0 && S_ISREG(status.st_mode) && seals >= 0 &&
           (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) == (F_SEAL_SHRINK | F_SEAL_GROW) &&
           static_cast<std::uint64_t>(status.st_size) == kRingHeaderBytes + std::uint64_t{bufferBytes};
}

// One byte more than the largest request, so that a longer message shows.
alignas(StartRequest) unsigned char g_request[sizeof(StartRequest) + kMaxFilterLength * sizeof(FilterInstruction) + 1];

// Waits for the request, as long as the channel is open: 0 when it is one
// well-formed request within bounds, else the exit status.
int ReadRequest(StartRequest* request) {
    pollfd wait{kChannel, POLLIN, 0};
    while (poll(&wait, 1, -1) < 0) {
        if (errno != EINTR) return kNoRequest;
    }
    iovec part{g_request, sizeof g_request};
    alignas(cmsghdr) char control[CMSG_SPACE(8 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t count = recvmsg(kChannel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (count <= 0) return kNoRequest;
    const bool oneAttached = TakeAttached(&message) == 1 && (message.msg_flags & MSG_CTRUNC) == 0;
    if (!oneAttached || (message.msg_flags & MSG_TRUNC) != 0 || count < static_cast<ssize_t>(sizeof *request))
        return kBadRequest;
    std::memcpy(request, g_request, sizeof *request);
    const StartRequest& r = *request;
    std::uint64_t ringBytes = std::uint64_t{r.blockSize} * r.blockCount;
    bool sound = r.magic == kMagic && r.kind == kStartCapture && r.interfaceIndex > 0 &&
                 r.blockSize >= kMinBlockSize && r.blockSize <= kMaxBlockSize && (r.blockSize & (r.blockSize - 1)) == 0 &&
                 r.blockCount >= kMinBlockCount && r.blockCount <= kMaxBlockCount && ringBytes <= kMaxRingBytes &&
                 r.blockTimeoutMs >= 1 && r.blockTimeoutMs <= 1000 && r.filterLength <= kMaxFilterLength &&
                 r.bufferBytes >= kMinBuffer && r.bufferBytes <= kMaxBuffer && r.bufferBytes % kRingHeaderBytes == 0 &&
                 count == static_cast<ssize_t>(sizeof r + r.filterLength * sizeof(FilterInstruction)) &&
                 RingIsSound(r.bufferBytes);
    return sound ? 0 : kBadRequest;
}

// The program's filter behind a check of our own: IPv4 only, whatever the
// filter says, with the accumulator cleared as a filter expects it.
int AttachFilter(const StartRequest& request) {
    static sock_filter code[kPrefixLength + kMaxFilterLength];
    code[0] = BPF_STMT(BPF_LD | BPF_H | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL));
    code[1] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0);
    code[2] = BPF_STMT(BPF_RET | BPF_K, 0);
    code[3] = BPF_STMT(BPF_LD | BPF_IMM, 0);
    std::uint32_t length = request.filterLength;
    if (length == 0) {
        code[kPrefixLength] = BPF_STMT(BPF_RET | BPF_K, 0x40000);
        length = 1;
    } else {
        std::memcpy(&code[kPrefixLength], g_request + sizeof request, length * sizeof(sock_filter));
    }
    sock_fprog program{static_cast<unsigned short>(kPrefixLength + length), code};
    return setsockopt(g_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0 ? 0 : errno;
}

int AttachRing(const StartRequest& request) {
    int version = TPACKET_V3;
    if (setsockopt(g_fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) return errno;
    tpacket_req3 ring{};
    ring.tp_block_size = request.blockSize;
    ring.tp_block_nr = request.blockCount;
    ring.tp_frame_size = 2048;  // nominal in a V3 ring; the block size must be a multiple
    ring.tp_frame_nr = request.blockSize / 2048 * request.blockCount;
    ring.tp_retire_blk_tov = request.blockTimeoutMs;
    if (setsockopt(g_fd, SOL_PACKET, PACKET_RX_RING, &ring, sizeof ring) != 0) return errno;
    std::size_t size = std::size_t{request.blockSize} * request.blockCount;
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, g_fd, 0);
    if (map == MAP_FAILED) return errno;
    g_ring = static_cast<std::uint8_t*>(map);
    g_blockSize = request.blockSize;
    g_blockCount = request.blockCount;
    return 0;
}

int Bind(int index, int protocol) {
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(static_cast<std::uint16_t>(protocol));
    address.sll_ifindex = index;
    return bind(g_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

// The interface the socket is bound to, or -1 once it has gone away.
int BoundIndex(unsigned short* hardwareType) {
    sockaddr_ll address{};
    socklen_t length = sizeof address;
    if (getsockname(g_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    if (hardwareType != nullptr) *hardwareType = address.sll_hatype;
    return address.sll_ifindex;
}

// Sets the capture up in an order that lets nothing in early: the socket
// (protocol 0) receives nothing until the last bind names a protocol.
int SetUp(const StartRequest& request, int* error) {
    if ((*error = AttachFilter(request)) != 0) return kFilterRefused;
    if ((*error = AttachRing(request)) != 0) return kRingFailed;
    if ((*error = Bind(request.interfaceIndex, 0)) != 0) return kBindFailed;
    unsigned short type = 0;
    if (BoundIndex(&type) != request.interfaceIndex) return *error = ENODEV, kBindFailed;
    if (type == ARPHRD_LOOPBACK) {
        // Every datagram passes loopback twice; the received copy shows it once.
        int one = 1;
        if (setsockopt(g_fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0) return *error = errno, kSetupFailed;
    } else {
        packet_mreq promiscuous{};
        promiscuous.mr_ifindex = request.interfaceIndex;
        promiscuous.mr_type = PACKET_MR_PROMISC;
        if (setsockopt(g_fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0)
            return *error = errno, kSetupFailed;
    }
    std::uint8_t* ring = MapRing(g_ringFd, request.bufferBytes);
    if (ring == nullptr) return *error = errno, kSetupFailed;
    close(g_ringFd);
    g_shared = reinterpret_cast<RingHeader*>(ring);
    g_data = ring + kRingHeaderBytes;
    g_ringBytes = request.bufferBytes;
    // The stream starts at the start; the program's words count from there.
    __atomic_store_n(&g_shared->head, 0, __ATOMIC_RELEASE);
    // Outgoing datagrams reach only sockets of every protocol; the filter keeps IPv4.
    if ((*error = Bind(request.interfaceIndex, ETH_P_ALL)) != 0) return kBindFailed;
    return 0;
}

// Gives up every capability for good and allows only what streaming needs.
int LockDown() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    if (syscall(SYS_capset, &header, none) != 0) return errno;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
    scmp_filter_ctx context = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (context == nullptr) return ENOMEM;
    const int anyArgument[] = {SCMP_SYS(poll), SCMP_SYS(ppoll), SCMP_SYS(clock_gettime), SCMP_SYS(exit),
                               SCMP_SYS(exit_group), SCMP_SYS(rt_sigreturn), SCMP_SYS(restart_syscall),
                               SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(madvise)};
    // A call this architecture lacks (poll on some) is simply not added.
    for (int call : anyArgument) seccomp_rule_add(context, SCMP_ACT_ALLOW, call, 0);
    int failed = 0;
    // Statistics and the binding of its own socket; writes to its channel only.
    failed |= seccomp_rule_add(context, SCMP_ACT_ALLOW, SCMP_SYS(getsockopt), 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(g_fd)));
    failed |= seccomp_rule_add(context, SCMP_ACT_ALLOW, SCMP_SYS(getsockname), 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(g_fd)));
    failed |= seccomp_rule_add(context, SCMP_ACT_ALLOW, SCMP_SYS(sendto), 1, SCMP_A0(SCMP_CMP_EQ, kChannel));
    if (failed == 0) failed = seccomp_load(context);
    // Not released: freeing after the load is not worth a rule.
    return failed == 0 ? 0 : -failed;
}

void Put32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }
void Put64(std::uint8_t* at, std::uint64_t value) { std::memcpy(at, &value, sizeof value); }

// Room for a block of size bytes in the output ring, or null when full. The
// tail is the program's word: one before what it read, or past what was
// published, ends the stream.
std::uint8_t* Reserve(std::size_t size) {
    if (g_written + size - g_read > g_ringBytes) {
        const std::uint64_t tail = __atomic_load_n(&g_shared->tail, __ATOMIC_ACQUIRE);
        if (tail < g_read || tail > g_published) return g_tailWrong = true, nullptr;
        g_read = tail;
        if (g_written + size - g_read > g_ringBytes) return g_outputFull = true, nullptr;
    }
    std::uint8_t* at = g_data + g_written % g_ringBytes;
    g_written += size;
    return at;
}

// Starts a block of the given type and size; the caller fills from offset 8.
// Other blocks come zeroed; a packet block is filled whole by its caller.
std::uint8_t* Block(std::uint32_t type, std::uint32_t size) {
    std::uint8_t* at = Reserve(size);
    if (at == nullptr) return nullptr;
    if (type != 6) std::memset(at, 0, size);
    Put32(at, type);
    Put32(at + 4, size);
    Put32(at + size - 4, size);
    return at;
}

void WriteHeaders(const char* name) {
    std::uint8_t* shb = Block(0x0A0D0D0A, 28 + 12 + 4);
    Put32(shb + 8, 0x1A2B3C4D);
    Put32(shb + 12, 1);  // version 1.0
    Put64(shb + 16, ~std::uint64_t{0});
    Put32(shb + 24, 4 | 8 << 16);  // shb_userappl
    std::memcpy(shb + 28, "Quorvane", 8);
    std::size_t nameLength = std::strlen(name);
    std::uint32_t namePadded = static_cast<std::uint32_t>((nameLength + 3) & ~std::size_t{3});
    std::uint8_t* idb = Block(1, 16 + 4 + namePadded + 8 + 4 + 4);
    Put32(idb + 8, kLinkTypeIPv4);
    Put32(idb + 12, 65535);
    Put32(idb + 16, 2 | static_cast<std::uint32_t>(nameLength) << 16);  // if_name
    std::memcpy(idb + 20, name, nameLength);
    Put32(idb + 20 + namePadded, 9 | 1 << 16);  // if_tsresol: nanoseconds
    idb[24 + namePadded] = 9;
}

bool WriteStatistics() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t time = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
    std::uint8_t* isb = Block(5, 20 + 12 + 12 + 4 + 4);
    if (isb == nullptr) return false;
    Put32(isb + 12, static_cast<std::uint32_t>(time >> 32));
    Put32(isb + 16, static_cast<std::uint32_t>(time));
    Put32(isb + 20, 4 | 8 << 16);  // isb_ifrecv
    Put64(isb + 24, g_received);
    Put32(isb + 32, 5 | 8 << 16);  // isb_ifdrop
    Put64(isb + 36, g_dropped);
    g_droppedSent = g_dropped;
    return true;
}

std::uint8_t* BlockBase() { return g_ring + std::size_t{g_block} * g_blockSize; }
tpacket_hdr_v1& BlockHeader() { return reinterpret_cast<tpacket_block_desc*>(BlockBase())->hdr.bh1; }

void ReleaseBlock() {
    __atomic_store_n(&BlockHeader().block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    g_block = (g_block + 1) % g_blockCount;
    g_framesLeft = 0;
}

// Copies the datagrams of blocks the kernel has handed over into the output,
// until none is left or the output is full; a block goes back at once.
void TakeRing() {
    g_outputFull = false;
    for (std::uint32_t released = 0; released <= g_blockCount;) {
        if (g_framesLeft == 0) {
            tpacket_hdr_v1& header = BlockHeader();
            if ((__atomic_load_n(&header.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return;
            g_framesLeft = header.num_pkts;
            g_frame = BlockBase() + header.offset_to_first_pkt;
        }
        while (g_framesLeft != 0) {
            const auto* frame = reinterpret_cast<const tpacket3_hdr*>(g_frame);
            std::uint32_t captured = frame->tp_snaplen, padded = (captured + 3) & ~3u;
            std::uint8_t* epb = Block(6, 32 + padded);
            if (epb == nullptr) return;
            std::uint64_t time = std::uint64_t{frame->tp_sec} * 1000000000u + frame->tp_nsec;
            Put32(epb + 8, 0);
            Put32(epb + 12, static_cast<std::uint32_t>(time >> 32));
            Put32(epb + 16, static_cast<std::uint32_t>(time));
            Put32(epb + 20, captured);
            Put32(epb + 24, frame->tp_len);
            if (padded != 0) Put32(epb + 24 + padded, 0);  // the padding
            std::memcpy(epb + 28, g_frame + frame->tp_mac, captured);
            g_frame += frame->tp_next_offset;
            --g_framesLeft;
            ++g_taken;
        }
        ReleaseBlock();
        ++released;
    }
}

void ReadStatistics() {
    tpacket_stats_v3 stats{};
    socklen_t length = sizeof stats;
    if (getsockopt(g_fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0) return;
    // Each read resets the kernel's counters; its packet count includes the drops.
    g_received += stats.tp_packets - stats.tp_drops;
    g_dropped += stats.tp_drops;
}

// Publishes what was written; a program that waits for it gets a message.
// -1 when the channel is closed.
int Publish() {
    if (g_written == g_published) return 0;
    g_published = g_written;
    __atomic_store_n(&g_shared->head, g_published, __ATOMIC_SEQ_CST);
    // Paired with the program, which sets waiting before it looks at head a
    // last time: it sees the new head, or the helper sees it waiting.
    if (__atomic_exchange_n(&g_shared->waiting, 0, __ATOMIC_SEQ_CST) == 0) return 0;
    const char one = 1;
    ssize_t sent;
    while ((sent = send(kChannel, &one, 1, MSG_DONTWAIT | MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    // A full channel holds messages the program has yet to read: it will look.
    return sent == 1 || errno == EAGAIN ? 0 : -1;
}

// Writes a last statistics block, waiting for room while the program reads.
int EndWithStatistics(int status) {
    TakeRing();
    ReadStatistics();
    while (!WriteStatistics() && !g_tailWrong) {
        pollfd wait{kChannel, 0, 0};
        if (poll(&wait, 1, kFullCheckMs) < 0 && errno != EINTR) break;
        if (wait.revents & (POLLHUP | POLLERR)) break;
    }
    Publish();
    return status;
}

int Stream(int index) {
    // A link that goes down reports ENETDOWN once; its removal may follow
    // without another report, so while it is down the binding is looked at
    // every kDownCheckMs until datagrams come again.
    constexpr int kDownCheckMs = 100;
    bool linkDown = false;
    for (;;) {
        const std::uint64_t before = g_taken;
        TakeRing();
        if (g_taken != before) linkDown = false;
        ReadStatistics();
        if (g_dropped != g_droppedSent) WriteStatistics();
        if (g_tailWrong) return kStreamFailed;
        if (Publish() < 0) return kChannelClosed;
        if (linkDown && BoundIndex(nullptr) != index) return EndWithStatistics(kInterfaceGone);
        // A full output ring is looked at again until the program has read.
        pollfd wait[2] = {{g_fd, static_cast<short>(g_outputFull ? 0 : POLLIN), 0}, {kChannel, POLLRDHUP, 0}};
        const int timeout = g_outputFull ? kFullCheckMs : linkDown ? kDownCheckMs : -1;
        if (poll(wait, 2, timeout) < 0 && errno != EINTR) return kStreamFailed;
        if (wait[1].revents & (POLLHUP | POLLERR)) return kChannelClosed;
        // The program asks for the end but reads on: it gets the rest first.
        if (wait[1].revents & POLLRDHUP) return EndWithStatistics(kChannelClosed);
        if (wait[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Reading the error clears it. A link that went down comes back on
            // its own; only a socket no longer bound has lost its interface.
            SocketOption(g_fd, SO_ERROR);
            if (BoundIndex(nullptr) != index) return EndWithStatistics(kInterfaceGone);
            linkDown = true;
        }
    }
}
}  // namespace

int main(int argc, char**) {
    if (argc != 1) return kBadArguments;
    // Ends with the program; a program already gone has closed the channel.
    pid_t parent = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || getppid() != parent) return kBadChannel;
    if (!ChannelIsSound()) return kBadChannel;

    g_fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int error = g_fd < 0 ? errno : 0;
    if (!SendReply(error)) return kReplyFailed;
    if (g_fd < 0) return kSocketFailed;

    StartRequest request{};
    if (int refused = ReadRequest(&request)) return refused;
    char name[IF_NAMESIZE + 1] = {};
    int status = SetUp(request, &error);
    if (status == 0 && if_indextoname(static_cast<unsigned>(request.interfaceIndex), name) == nullptr) name[0] = '\0';
    if (status == 0 && (error = LockDown()) != 0) status = kLockdownFailed;
    if (!SendReply(error)) return kReplyFailed;
    if (status != 0) return status;

    WriteHeaders(name);
    if (Publish() < 0) return kChannelClosed;
    _exit(Stream(request.interfaceIndex));
}
