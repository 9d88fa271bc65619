// The registry under HKEY_CURRENT_USER, kept where and how Qt's QSettings
// keeps an application's settings on Linux, so that a person can read and
// edit them: the key "Software\<Org>\<App>" is the INI file
// $XDG_CONFIG_HOME/<Org>/<App>.conf (an absolute XDG_CONFIG_HOME only, else
// $HOME/.config). The key's own values are in the section [General], those of
// a subkey "Software\<Org>\<App>\a\b" in the section [a/b]. "Software" and
// "Software\<Org>" exist while a settings file below them does; values cannot
// be kept there, nor outside "Software". Names compare without
// regard to ASCII case, as the registry's do.
//
// This layer is built without Qt (the sanitizer runs build it alone), so it
// reads and writes the format itself, in QSettings' own spelling:
//   [General]
//   Default%20Adapter=127.0.0.1
// Names escape every byte but letters, digits, "_", "-" and "." as %XX. A
// REG_SZ value that is printable text ending in its one NUL is that text
// ("\" and quote escaped, quoted when it holds ";", "," or "=" or starts or
// ends with a blank, "@@" for a leading "@"); every other value keeps its
// type and exact bytes as @Registry(<type>:<hex bytes>). A file that does not
// parse completely, is not a regular file or is larger than 1 MiB reads as
// empty, so its values are absent.
//
// Every change reads the file, changes it in memory and writes a new file
// (written, fsynced, renamed over the old one, folder fsynced) while holding
// an flock on the organisation's folder. The lock is waited for at most
// kLockWait; after that the change is skipped and reported as failed. The
// new file is an unnamed O_TMPFILE until it is complete, so a writer killed
// mid-write leaves nothing behind; temporary names left by a writer killed in
// the instant between naming and renaming are removed by the next writer.
#include "platform/WinRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace win {

struct RegistryKey {
    std::vector<std::string> path;  // components as given; empty for the root
};

namespace {

RegistryKey g_currentUser;

constexpr std::size_t kMaxFileSize = 1024 * 1024;
constexpr auto kLockWait = std::chrono::milliseconds(1500);
constexpr const char* kGeneral = "General";
constexpr const char* kTempInfix = ".tmp-";

std::string Fold(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameName(const std::string& a, const std::string& b) { return Fold(a) == Fold(b); }

struct Value {
    DWORD type = REG_NONE;
    std::string data;
};

/// One settings file: its sections (groups), each with its values.
struct Store {
    struct Group {
        std::string name;                                         // as written; empty for [General]
        std::map<std::string, std::pair<std::string, Value>> values;  // folded name -> (name, value)
    };
    std::map<std::string, Group> groups;  // folded group path -> group
};

// ---- Paths -----------------------------------------------------------------
std::optional<std::string> ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg);
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
    return std::nullopt;
}

std::vector<std::string> SplitPath(LPCSTR subKey) {
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = subKey ? subKey : ""; ; ++c) {
        if (*c == '\\' || *c == '\0') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
            if (*c == '\0') return parts;
        } else {
            part += *c;
        }
    }
}

/// The entry of folder named like name without regard to case, else name.
std::string FindEntry(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return name;
    std::string found = name;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name == name) {
            found = name;
            break;
        }
        if (SameName(entry->d_name, name)) found = entry->d_name;
    }
    ::closedir(dir);
    return found;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

/// Where a key lives: the organisation's folder, the file's name in it, and
/// the group (subkey path joined with "/", empty for the application key).
struct Location {
    std::string folder;
    std::string file;
    std::string group;
};

/// The location of a key of at least three components under "Software".
std::optional<Location> Locate(const std::vector<std::string>& path) {
    if (path.size() < 3 || !SameName(path[0], "Software")) return std::nullopt;
    const auto config = ConfigFolder();
    if (!config) return std::nullopt;
    Location where;
    where.folder = *config + "/" + FindEntry(*config, path[1]);
    where.file = FindEntry(where.folder, path[2] + ".conf");
    for (std::size_t i = 3; i < path.size(); ++i) where.group += (where.group.empty() ? "" : "/") + path[i];
    return where;
}

// ---- Names and values in the file --------------------------------------------
std::string EscapeName(const std::string& name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
            c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

/// A name as written in the file: %XX bytes, %UXXXX characters, "\" for "/".
std::optional<std::string> UnescapeName(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += '/';
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == 'U') {
            if (i + 5 >= text.size()) return std::nullopt;
            unsigned long code = 0;
            for (std::size_t k = 2; k < 6; ++k) {
                const int d = HexDigit(text[i + k]);
                if (d < 0) return std::nullopt;
                code = code * 16 + static_cast<unsigned long>(d);
            }
            AppendUtf8(out, code);
            i += 5;
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

/// True for a REG_SZ value that is printable ASCII text with its one NUL.
bool IsPlainText(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value.data[i]);
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

std::string FormatValue(const Value& value) {
    if (!IsPlainText(value)) {
        static const char digits[] = "0123456789abcdef";
        std::string out = "@Registry(" + std::to_string(value.type) + ":";
        for (unsigned char b : value.data) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out + ")";
    }
    const std::string text = value.data.substr(0, value.data.size() - 1);
    std::string body = text.size() > 0 && text[0] == '@' ? "@" : "";
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text) {
        if (c == '\\' || c == '"') body += '\\';
        if (c == ';' || c == ',' || c == '=') quote = true;
        body += c;
    }
    return quote ? "\"" + body + "\"" : body;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

/// A typed value's text, "@Registry(<type>:<hex>)", or null.
std::optional<Value> ParseTyped(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (text.back() != ')' || colon == std::string::npos || colon == 10 || colon - 10 > 10) return std::nullopt;
    const std::string type = text.substr(10, colon - 10);
    if (type.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const unsigned long long number = std::strtoull(type.c_str(), nullptr, 10);
    if (number > 0xFFFFFFFFull) return std::nullopt;
    const std::string hex = text.substr(colon + 1, text.size() - colon - 2);
    if (hex.size() % 2 != 0) return std::nullopt;
    Value value{static_cast<DWORD>(number), {}};
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        value.data += static_cast<char>(hi * 16 + lo);
    }
    return value;
}

/// The value written after "=", or null when it is not one.
std::optional<Value> ParseValue(const std::string& written) {
    const std::string text = Trim(written);
    std::string out;
    const bool quoted = !text.empty() && text[0] == '"';
    bool closed = false;
    for (std::size_t i = quoted ? 1 : 0; i < text.size(); ++i) {
        const char c = text[i];
        if (closed) return std::nullopt;  // anything after the closing quote
        if (quoted && c == '"') {
            closed = true;
            continue;
        }
        if (!quoted && (c == '"' || c == ',' || c == ';')) return std::nullopt;  // a list or a comment
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'x': {
            unsigned long code = 0;
            std::size_t digits = 0;
            while (i + 1 < text.size() && digits < 4 && HexDigit(text[i + 1]) >= 0) {
                code = code * 16 + static_cast<unsigned long>(HexDigit(text[++i]));
                ++digits;
            }
            if (digits == 0) return std::nullopt;
            AppendUtf8(out, code);
            break;
        }
        default: return std::nullopt;
        }
    }
    if (quoted && !closed) return std::nullopt;
    if (out.rfind("@Registry(", 0) == 0) return ParseTyped(out);
    if (out.rfind("@@", 0) == 0) {
        out.erase(0, 1);
    } else if (!out.empty() && out[0] == '@') {
        return std::nullopt;  // another of Qt's typed values
    }
    out += '\0';
    return Value{REG_SZ, out};
}

Store::Group& GroupOf(Store& store, const std::string& group) {
    Store::Group& g = store.groups[Fold(group)];
    if (g.name.empty()) g.name = group;
    return g;
}

/// Parses a whole file; anything short of the format gives null.
std::optional<Store> Parse(const std::string& text) {
    Store store;
    Store::Group* current = &GroupOf(store, "");
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return std::nullopt;
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return std::nullopt;
            const std::string written = Trim(line.substr(1, line.size() - 2));
            // [General] holds the key's own values; a subkey of that name is [%General].
            auto name = written == "%General" ? std::optional<std::string>(kGeneral) : UnescapeName(written);
            if (!name || name->empty()) return std::nullopt;
            if (written == kGeneral) name->clear();
            current = &GroupOf(store, *name);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const auto name = UnescapeName(Trim(line.substr(0, equals)));
        const auto value = ParseValue(line.substr(equals + 1));
        if (!name || name->empty() || !value) return std::nullopt;
        current->values[Fold(*name)] = {*name, *value};
    }
    return store;
}

/// A section's name for a group path: its components escaped, "\\" between them.
std::string SectionName(const std::string& group) {
    if (group.empty()) return kGeneral;
    if (group == kGeneral) return "%General";
    std::string out, part;
    for (std::size_t at = 0; at <= group.size(); ++at) {
        if (at < group.size() && group[at] != '/') {
            part += group[at];
            continue;
        }
        out += (out.empty() ? "" : "\\") + EscapeName(part);
        part.clear();
    }
    return out;
}

std::string Format(const Store& store) {
    std::string out;
    for (const auto& [folded, group] : store.groups) {
        // The key's own section only when it has values; a subkey's always,
        // so that a subkey without values still exists.
        if (folded.empty() && group.values.empty()) continue;
        if (!out.empty()) out += "\n";
        out += "[" + SectionName(group.name) + "]\n";
        for (const auto& [foldedName, entry] : group.values)
            out += EscapeName(entry.first) + "=" + FormatValue(entry.second) + "\n";
    }
    return out;
}

// ---- File access -----------------------------------------------------------------
/// The store of a file; null when it is absent, not a regular file or broken.
std::optional<Store> ReadStore(const Location& where) {
    // Non-blocking, so that a FIFO at the path cannot hold the caller.
    const int fd = ::open((where.folder + "/" + where.file).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxFileSize) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > kMaxFileSize) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return Parse(text);
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

/// Removes temporary files that writers killed before their rename left.
/// Runs under the lock, so no live writer owns one.
void RemoveStaleTemporaries(const Location& where) {
    DIR* dir = ::opendir(where.folder.c_str());
    if (!dir) return;
    const std::string prefix = where.file + kTempInfix;
    std::vector<std::string> stale;
    while (dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) stale.push_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : stale) ::unlink((where.folder + "/" + name).c_str());
}

/// Writes text to the unnamed file fd, then gives it the name temp.
bool WriteUnnamed(int fd, const std::string& text, const std::string& temp) {
    if (!WriteAll(fd, text) || ::fsync(fd) != 0) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ::unlink(temp.c_str());
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

/// Replaces the file by a complete new one, or leaves it as it was.
bool WriteStore(const Location& where, const Store& store) {
    const std::string target = where.folder + "/" + where.file;
    const std::string temp = where.folder + "/" + where.file + kTempInfix + std::to_string(::getpid());
    const std::string text = Format(store);
    bool ok = false;
    if (const int fd = ::open(where.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600); fd >= 0) {
        ok = WriteUnnamed(fd, text, temp);
        ok = (::close(fd) == 0) && ok;
    }
    if (!ok) {  // no unnamed files here (or no /proc): a named temporary file
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        ok = WriteAll(fd, text) && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
    }
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dir = ::open(where.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

/// Takes the lock on folder, waiting at most kLockWait; the descriptor, or -1.
int LockFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
    return -1;
}

/// Runs change on the key's file under the folder's lock and writes the
/// result when change reports a modification. Returns a Win32 error code.
template <typename Change>
LONG Modify(const Location& where, Change change) {
    if (!MakeFolders(where.folder)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const int lock = LockFolder(where.folder);
    if (lock < 0) return static_cast<LONG>(ERROR_CANTWRITE);
    RemoveStaleTemporaries(where);
    Store store = ReadStore(where).value_or(Store{});
    LONG result = ERROR_SUCCESS;
    if (change(store) && !WriteStore(where, store)) result = static_cast<LONG>(ERROR_CANTWRITE);
    ::close(lock);  // releases the flock
    return result;
}

template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) names.push_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) visit(name);
}

/// True when folder holds an application's settings file that reads whole.
bool HoldsStore(const std::string& folder) {
    bool found = false;
    ForEachEntry(folder, [&](const std::string& name) {
        const std::string suffix = ".conf";
        if (found || name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            return;
        found = ReadStore(Location{folder, name, ""}).has_value();
    });
    return found;
}

bool KeyExists(const std::vector<std::string>& path) {
    if (path.empty()) return true;
    if (!SameName(path[0], "Software")) return false;
    const auto config = ConfigFolder();
    if (!config) return false;
    if (path.size() == 1) {
        // "Software" exists while some organisation's folder holds a settings file.
        bool found = false;
        ForEachEntry(*config, [&](const std::string& name) {
            if (name != "." && name != ".." && IsDirectory(*config + "/" + name) && HoldsStore(*config + "/" + name))
                found = true;
        });
        return found;
    }
    if (path.size() == 2) return HoldsStore(*config + "/" + FindEntry(*config, path[1]));
    const auto where = Locate(path);
    const auto store = where ? ReadStore(*where) : std::nullopt;
    if (!store) return false;
    if (where->group.empty()) return true;
    const std::string folded = Fold(where->group);
    for (const auto& [name, group] : store->groups)
        if (name == folded || name.rfind(folded + "/", 0) == 0) return true;
    return false;
}

std::vector<std::string> Join(const HKEY key, LPCSTR subKey) {
    std::vector<std::string> path = key->path;
    for (std::string& part : SplitPath(subKey)) path.push_back(std::move(part));
    return path;
}

}  // namespace

const HKEY HKEY_CURRENT_USER = &g_currentUser;

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (key == nullptr || result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::vector<std::string> path = Join(key, subKey);
    if (!KeyExists(path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    *result = new RegistryKey{std::move(path)};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
    if (key == nullptr || result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::vector<std::string> path = Join(key, subKey);
    if (path.empty() || !SameName(path[0], "Software")) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (!ConfigFolder()) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const bool existed = KeyExists(path);
    // "Software" and an organisation exist through their applications' files;
    // an application's key, or a subkey, is written at once.
    if (!existed && path.size() >= 3) {
        const Location where = *Locate(path);
        const LONG status = Modify(where, [&](Store& store) {
            GroupOf(store, where.group);
            return true;
        });
        if (status != ERROR_SUCCESS) return status;
    }
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = new RegistryKey{std::move(path)};
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (key == nullptr || (data != nullptr && dataSize == nullptr)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const auto where = Locate(key->path);
    const auto store = where ? ReadStore(*where) : std::nullopt;
    if (!store) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto group = store->groups.find(Fold(where->group));
    if (group == store->groups.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto entry = group->second.values.find(Fold(valueName ? valueName : ""));
    if (entry == group->second.values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
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
    if (key == nullptr || (data == nullptr && dataSize != 0)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const auto where = Locate(key->path);
    if (!where) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const std::string name = valueName ? valueName : "";
    if (name.empty()) return static_cast<LONG>(ERROR_ACCESS_DENIED);  // INI files have no unnamed value
    const Value value{type, std::string(reinterpret_cast<const char*>(data), data ? dataSize : 0)};
    return Modify(*where, [&](Store& store) {
        GroupOf(store, where->group).values[Fold(name)] = {name, value};
        return true;
    });
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (key != HKEY_CURRENT_USER) delete key;
    return ERROR_SUCCESS;
}

}  // namespace win
