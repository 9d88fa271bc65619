// The registry under HKEY_CURRENT_USER, kept in one store file per user:
// $XDG_CONFIG_HOME/quorvane/registry (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/quorvane/registry.
//
// The file is text in a strict format of its own:
//   QUORVANE-REGISTRY 1
//   K <key path>                           one line per key
//   V <key path> <value name> <type> <data>   one line per value
//   END
// Key paths, value names and data are hex-encoded bytes ("-" when empty), so
// every value keeps its type and exact bytes. Key paths are backslash-joined
// and compared without regard to ASCII case, like value names. A file that
// does not parse completely (unreadable, truncated, garbage) reads as empty.
//
// Every change reads the file, changes it in memory and writes a new file to a
// temporary name in the same folder (written, fsynced, renamed over the store,
// folder fsynced), all under an flock on "registry.lock", so a crash or a
// full disk leaves the earlier file whole, and two writers never mix.
#include "platform/WinRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace win {

struct RegistryKey {
    std::string path;  // backslash-joined components; empty for the root
};

namespace {

RegistryKey g_currentUser;

constexpr const char* kHeader = "QUORVANE-REGISTRY 1";
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

std::string Fold(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

struct Value {
    DWORD type = REG_NONE;
    std::string data;
};

struct Store {
    std::map<std::string, std::string> keys;  // folded path -> path as created
    // folded path -> folded name -> (name as written, value)
    std::map<std::string, std::map<std::string, std::pair<std::string, Value>>> values;
};

// ---- Paths -----------------------------------------------------------------
std::optional<std::string> StoreFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/quorvane";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quorvane";
    return std::nullopt;
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

/// Joins a key's path and a subkey given with backslashes; empty components drop.
std::string JoinPath(const std::string& base, LPCSTR subKey) {
    std::string result = base;
    std::string part;
    auto flush = [&] {
        if (part.empty()) return;
        if (!result.empty()) result += '\\';
        result += part;
        part.clear();
    };
    for (const char* c = subKey ? subKey : ""; *c; ++c) {
        if (*c == '\\') flush();
        else part += *c;
    }
    flush();
    return result;
}

// ---- Encoding ----------------------------------------------------------------
std::string Hex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<std::string> Unhex(const std::string& text) {
    if (text == "-") return std::string();
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string::npos) return fields;
        start = space + 1;
    }
}

void AddKey(Store& store, const std::string& path) {
    // Every parent exists with its child.
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '\\') continue;
        const std::string prefix = path.substr(0, at);
        if (!prefix.empty()) store.keys.emplace(Fold(prefix), prefix);
    }
}

bool KeyExists(const Store& store, const std::string& path) {
    return path.empty() || store.keys.count(Fold(path)) != 0;
}

/// Parses a whole file; anything short of the complete format gives null.
std::optional<Store> Parse(const std::string& text) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) return std::nullopt;
    Store store;
    while (std::getline(lines, line)) {
        if (line == "END") {
            if (lines.peek() != std::char_traits<char>::eof()) return std::nullopt;
            return store;
        }
        const std::vector<std::string> f = Fields(line);
        if (f[0] == "K" && f.size() == 2) {
            const auto path = Unhex(f[1]);
            if (!path || path->empty()) return std::nullopt;
            AddKey(store, *path);
        } else if (f[0] == "V" && f.size() == 5) {
            const auto path = Unhex(f[1]), name = Unhex(f[2]), data = Unhex(f[4]);
            if (!path || !name || !data || f[3].empty() || f[3].size() > 10 ||
                f[3].find_first_not_of("0123456789") != std::string::npos) {
                return std::nullopt;
            }
            const unsigned long type = std::strtoul(f[3].c_str(), nullptr, 10);
            if (type > 0xFFFFFFFFul) return std::nullopt;
            if (!path->empty()) AddKey(store, *path);
            store.values[Fold(*path)][Fold(*name)] = {*name, Value{static_cast<DWORD>(type), *data}};
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;  // no end line: truncated
}

std::string Format(const Store& store) {
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [folded, path] : store.keys) out += "K " + Hex(path) + "\n";
    for (const auto& [folded, names] : store.values) {
        const auto key = store.keys.find(folded);
        const std::string path = key != store.keys.end() ? key->second : std::string();
        for (const auto& [foldedName, entry] : names) {
            out += "V " + Hex(path) + " " + Hex(entry.first) + " " + std::to_string(entry.second.type) + " " +
                   Hex(entry.second.data) + "\n";
        }
    }
    return out + "END\n";
}

// ---- File access -----------------------------------------------------------------
Store ReadStore() {
    const auto folder = StoreFolder();
    if (!folder) return {};
    const int fd = ::open((*folder + "/registry").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            text.clear();
            break;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kMaxFileSize) {
            text.clear();
            break;
        }
    }
    ::close(fd);
    return Parse(text).value_or(Store{});
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

/// Replaces the store file by a complete new one, or leaves it as it was.
bool WriteStore(const std::string& folder, const Store& store) {
    const std::string target = folder + "/registry";
    const std::string temp = folder + "/registry.tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, Format(store)) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

/// Runs change on the current store under the store's lock and writes the
/// result when change reports a modification. Returns a Win32 error code.
template <typename Change>
LONG Modify(Change change) {
    const auto folder = StoreFolder();
    if (!folder || !MakeFolders(*folder)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const int lock = ::open((*folder + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    Store store = ReadStore();
    LONG result = ERROR_SUCCESS;
    if (change(store) && !WriteStore(*folder, store)) result = static_cast<LONG>(ERROR_CANTWRITE);
    ::close(lock);  // releases the flock
    return result;
}

bool ValidKey(HKEY key) { return key != nullptr; }

}  // namespace

const HKEY HKEY_CURRENT_USER = &g_currentUser;

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!ValidKey(key) || result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const std::string path = JoinPath(key->path, subKey);
    if (!KeyExists(ReadStore(), path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    *result = new RegistryKey{path};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
    if (!ValidKey(key) || result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const std::string path = JoinPath(key->path, subKey);
    bool created = false;
    const LONG status = Modify([&](Store& store) {
        created = !KeyExists(store, path);
        if (created) AddKey(store, path);
        return created;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new RegistryKey{path};
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (!ValidKey(key) || (data != nullptr && dataSize == nullptr)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const Store store = ReadStore();
    const auto names = store.values.find(Fold(key->path));
    if (names == store.values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto entry = names->second.find(Fold(valueName ? valueName : ""));
    if (entry == names->second.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const Value& value = entry->second.second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data == nullptr) {
        if (dataSize != nullptr) *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (!ValidKey(key) || (data == nullptr && dataSize != 0)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const std::string name = valueName ? valueName : "";
    Value value{type, std::string(reinterpret_cast<const char*>(data), data ? dataSize : 0)};
    return Modify([&](Store& store) {
        if (!key->path.empty()) AddKey(store, key->path);
        store.values[Fold(key->path)][Fold(name)] = {name, value};
        return true;
    });
}

LONG RegCloseKey(HKEY key) {
    if (!ValidKey(key)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (key != HKEY_CURRENT_USER) delete key;
    return ERROR_SUCCESS;
}

}  // namespace win
