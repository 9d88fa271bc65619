// The registry under HKEY_CURRENT_USER, kept by Qt's QSettings in the INI
// file where QSettings keeps an application's settings on Linux, so that a
// person can read and edit them: the key "Software\<Org>\<App>" is the file
// $XDG_CONFIG_HOME/<Org>/<App>.conf (an absolute XDG_CONFIG_HOME only, else
// $HOME/.config). The key's own values are in the section [General], those of
// a subkey "Software\<Org>\<App>\a\b" in the section [a/b]. "Software" and
// "Software\<Org>" exist while a settings file below them does; values cannot
// be kept there, nor outside "Software". Names compare without regard to
// ASCII case, as the registry's do; a value keeps the spelling it was first
// written with.
//
// QSettings reads and writes the file because a hand-edited file must cost
// nothing: it keeps every key, section, list and typed value that the
// program does not own when it writes one of its own, and a line it cannot
// parse costs only that line. (Our own reader, before, had to read a file it
// could not parse completely as empty, and the next write dropped the rest.)
// QSettings reads two slips its own way: a section header without its "]"
// still starts that section, and a quote left open runs on to the next quote.
// It is Qt Core, so this one file of the layer uses Qt, and only Qt Core
// (scripts/check-layering.sh holds it to that): the registry calls stay the
// layer's, and the program keeps calling them as before. The other way, an interface here that framework/
// fills with QSettings, would leave the registry empty wherever the framework
// has not been started (the engine's tests, the sanitizer runs).
//
// Values: REG_SZ is the text up to its first NUL (read back with one NUL);
// REG_BINARY is a byte array (@ByteArray); other types cannot be written
// (ERROR_INVALID_PARAMETER). What a person wrote reads as REG_SZ (a text or a
// typed value that has a text form), REG_MULTI_SZ (a list, "a, b") or
// REG_BINARY (a byte array). A comment after a value is dropped at the next
// write, as QSettings does; the value is kept.
//
// Every change takes an flock on the organisation's folder, waited for at
// most kLockWait (after that the change is skipped and reported as failed),
// then lets QSettings write, which writes a complete new file and renames it
// over the old one under its own lock file. A settings file that is not a
// regular file or is larger than 1 MiB reads as absent and is not written
// over, except that a FIFO or socket there is replaced by the next write (it
// would hold any reader); a FIFO is never opened.
#include "platform/WinRegistry.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
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

// ---- The file ---------------------------------------------------------------------
enum class FileState { Absent, Regular, Replaceable, Unusable };

/// What is at the settings file's path. Replaceable: a FIFO or socket, which
/// no reader may open; Unusable: a folder, a device or a file over the limit.
FileState Inspect(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? FileState::Absent : FileState::Unusable;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FileState::Replaceable;
    if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxFileSize) return FileState::Unusable;
    return FileState::Regular;
}

std::string PathOf(const Location& where) { return where.folder + "/" + where.file; }

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool SameName(const QString& a, const std::string& b) { return SameName(a.toStdString(), b); }

/// Enters the group path (components joined with "/") in the spelling the
/// file already uses for each component. False when a component is missing
/// and must exist.
bool EnterGroup(QSettings& settings, const std::string& group, bool mustExist) {
    std::size_t start = 0;
    while (start < group.size()) {
        std::size_t end = group.find('/', start);
        if (end == std::string::npos) end = group.size();
        const std::string part = group.substr(start, end - start);
        start = end + 1;
        QString spelling = FromUtf8(part);
        bool found = false;
        for (const QString& existing : settings.childGroups()) {
            if (SameName(existing, part)) {
                spelling = existing;
                found = true;
                break;
            }
        }
        if (!found && mustExist) return false;
        settings.beginGroup(spelling);
    }
    return true;
}

/// The key of the current group named like name without regard to case.
std::optional<QString> FindKey(QSettings& settings, const std::string& name) {
    for (const QString& key : settings.childKeys())
        if (SameName(key, name)) return key;
    return std::nullopt;
}

/// A value as the registry gives it, or null when it has no registry form.
std::optional<Value> ToValue(const QVariant& variant) {
    if (!variant.isValid()) return Value{REG_NONE, {}};
    switch (variant.typeId()) {
    case QMetaType::QByteArray: return Value{REG_BINARY, variant.toByteArray().toStdString()};
    case QMetaType::QStringList: {
        std::string data;
        for (const QString& item : variant.toStringList()) data += item.toStdString() + '\0';
        return Value{REG_MULTI_SZ, data + '\0'};
    }
    default:
        if (!variant.canConvert<QString>()) return std::nullopt;
        return Value{REG_SZ, variant.toString().toStdString() + '\0'};
    }
}

/// The QSettings value for a registry value, or an invalid variant for a type
/// the file cannot keep.
QVariant FromValue(DWORD type, const std::string& data) {
    if (type == REG_SZ) return FromUtf8(data.substr(0, data.find('\0')));
    if (type == REG_BINARY) return QByteArray(data.data(), static_cast<qsizetype>(data.size()));
    return {};
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

template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) names.push_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) visit(name);
}

/// True for the name QSaveFile gives its temporary file beside base: base,
/// ".", six random letters and digits. A six-letter word in lower case (a
/// person's "backup") is never taken for one; a temporary name of only lower
/// case letters (about one in 180) is left, which costs a little disk.
bool IsSaveFileTemporary(const std::string& name, const std::string& base) {
    if (name.size() != base.size() + 7 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.')
        return false;
    bool random = false;
    for (std::size_t i = base.size() + 1; i < name.size(); ++i) {
        const char c = name[i];
        const bool lower = c >= 'a' && c <= 'z';
        const bool other = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!lower && !other) return false;
        random = random || other;
    }
    return random;
}

/// Removes what a writer killed in the middle of its write left behind:
/// QSettings' lock file (PATH.lock), one being taken over
/// (PATH.lock.rmlock...) and QSaveFile's temporary copy of the file. Every
/// writer takes the folder's lock before QSettings writes, so under the
/// folder's lock any such file is stale. Only regular files of this user go.
void RemoveStaleWriterFiles(const std::string& folder, const std::string& path) {
    const std::string base = path.substr(path.find_last_of('/') + 1);
    const std::string lockPrefix = base + ".lock";
    ForEachEntry(folder, [&](const std::string& name) {
        if (name.compare(0, lockPrefix.size(), lockPrefix) != 0 && !IsSaveFileTemporary(name, base)) return;
        const std::string full = folder + "/" + name;
        struct stat info {};
        if (::lstat(full.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return;
        ::unlink(full.c_str());
    });
}

/// Runs change on the key's file and writes it under the folder's lock, with
/// the file made a regular one first. Returns a Win32 error code. The file is
/// read before the lock is taken, so that the lock is held for little more
/// than the write: QSettings reads the file again under its own lock file
/// when it writes and applies only the change, so nothing another writer
/// wrote in between is lost.
template <typename Change>
LONG Modify(const Location& where, Change change) {
    if (!MakeFolders(where.folder)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const std::string path = PathOf(where);
    FileState state = Inspect(path);
    if (state == FileState::Replaceable && ::unlink(path.c_str()) == 0) state = FileState::Absent;
    if (state == FileState::Absent) {
        // An empty file is an empty store: the key exists from now on.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0) ::close(fd);
        state = Inspect(path);
    }
    if (state != FileState::Regular) return static_cast<LONG>(ERROR_CANTWRITE);
    QSettings settings(FromUtf8(path), QSettings::IniFormat);
    const int lock = LockFolder(where.folder);
    if (lock < 0) return static_cast<LONG>(ERROR_CANTWRITE);  // nothing changed, so nothing is written
    RemoveStaleWriterFiles(where.folder, path);
    change(settings);
    settings.sync();
    ::close(lock);  // releases the flock
    // A format error only says that some line was not understood; what could
    // be read was kept and written back.
    if (settings.status() == QSettings::AccessError) return static_cast<LONG>(ERROR_CANTWRITE);
    return ERROR_SUCCESS;
}


/// True when folder holds an application's settings file.
bool HoldsStore(const std::string& folder) {
    bool found = false;
    ForEachEntry(folder, [&](const std::string& name) {
        const std::string suffix = ".conf";
        if (found || name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            return;
        found = Inspect(folder + "/" + name) == FileState::Regular;
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
    if (!where || Inspect(PathOf(*where)) != FileState::Regular) return false;
    if (where->group.empty()) return true;
    QSettings settings(FromUtf8(PathOf(*where)), QSettings::IniFormat);
    return EnterGroup(settings, where->group, true);
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
    // "Software" and an organisation exist through their applications'
    // files; an application's key is its file, made at once. A subkey
    // without values has no section in the file: it exists from its first value.
    if (!existed && path.size() >= 3) {
        const LONG status = Modify(*Locate(path), [](QSettings&) {});
        if (status != ERROR_SUCCESS) return status;
    }
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = new RegistryKey{std::move(path)};
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (key == nullptr || (data != nullptr && dataSize == nullptr)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const auto where = Locate(key->path);
    if (!where || Inspect(PathOf(*where)) != FileState::Regular) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    QSettings settings(FromUtf8(PathOf(*where)), QSettings::IniFormat);
    if (!EnterGroup(settings, where->group, true)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto name = FindKey(settings, valueName ? valueName : "");
    if (!name) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto value = ToValue(settings.value(*name));
    if (!value) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const auto size = static_cast<DWORD>(value->data.size());
    if (type != nullptr) *type = value->type;
    if (data == nullptr) {
        if (dataSize != nullptr) *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    std::memcpy(data, value->data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (key == nullptr || (data == nullptr && dataSize != 0)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const auto where = Locate(key->path);
    if (!where) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    const std::string name = valueName ? valueName : "";
    if (name.empty()) return static_cast<LONG>(ERROR_ACCESS_DENIED);  // INI files have no unnamed value
    // QSettings reads "/" and "\" in a name as a section path.
    if (name.find_first_of("/\\") != std::string::npos) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const QVariant value = FromValue(type, std::string(reinterpret_cast<const char*>(data), data ? dataSize : 0));
    if (!value.isValid()) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    return Modify(*where, [&](QSettings& settings) {
        EnterGroup(settings, where->group, false);
        // The spelling the file already has, so that a name never appears twice.
        settings.setValue(FindKey(settings, name).value_or(FromUtf8(name)), value);
    });
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (key != HKEY_CURRENT_USER) delete key;
    return ERROR_SUCCESS;
}

}  // namespace win
