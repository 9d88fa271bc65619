// The table of open capture sockets behind SOCKET handles. A handle is a
// number of the layer's own, never a descriptor, and is never reused.
#include <mutex>
#include <unordered_map>

#include "platform/linux/CaptureSocket.h"
#include "platform/linux/Internal.h"

namespace win::detail {

namespace {
struct SocketTable {
    std::mutex mutex;
    std::unordered_map<SOCKET, std::shared_ptr<CaptureSocket>> sockets;
    SOCKET next = 0x100;  // multiples of 4, as Windows hands them out
};

SocketTable& Table() {
    static SocketTable table;
    return table;
}
}  // namespace

SOCKET RegisterSocket(std::shared_ptr<CaptureSocket> socket) {
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    SOCKET handle = table.next;
    table.next += 4;
    table.sockets.emplace(handle, std::move(socket));
    return handle;
}

std::shared_ptr<CaptureSocket> FindSocket(SOCKET handle) {
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto found = table.sockets.find(handle);
    return found == table.sockets.end() ? nullptr : found->second;
}

std::shared_ptr<CaptureSocket> LookupSocket(SOCKET handle) {
    if (!IsWinsockStarted()) {
        FailWith(WSANOTINITIALISED);
        return nullptr;
    }
    std::shared_ptr<CaptureSocket> socket = FindSocket(handle);
    if (socket == nullptr) FailWith(WSAENOTSOCK);
    return socket;
}

std::shared_ptr<CaptureSocket> RemoveSocket(SOCKET handle) {
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto found = table.sockets.find(handle);
    if (found == table.sockets.end()) return nullptr;
    std::shared_ptr<CaptureSocket> socket = std::move(found->second);
    table.sockets.erase(found);
    return socket;
}

std::vector<std::shared_ptr<CaptureSocket>> RemoveAllSockets() {
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::vector<std::shared_ptr<CaptureSocket>> all;
    for (auto& entry : table.sockets) all.push_back(std::move(entry.second));
    table.sockets.clear();
    return all;
}

std::vector<std::shared_ptr<CaptureSocket>> AllSockets() {
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::vector<std::shared_ptr<CaptureSocket>> all;
    for (const auto& entry : table.sockets) all.push_back(entry.second);
    return all;
}

}  // namespace win::detail
