// The per-user registry store: values keep type and bytes, keys need to
// exist, broken store files read as empty and are replaced by the next
// write, failed writes keep the old file, concurrent writers never mix.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/WinRegistry.h"

using namespace win;

namespace {

constexpr const char* kKey = "Software\\Tembrook\\Quorvane";
constexpr DWORD kBuffer = 260;  // what the document reads into

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
    }
    void TearDown() override { std::system(("rm -rf '" + m_root + "'").c_str()); }

    std::string StoreFile() const { return m_root + "/quorvane/registry"; }
    std::string ReadFile() const {
        std::ifstream in(StoreFile(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void WriteFile(const std::string& bytes) const {
        mkdir((m_root + "/quorvane").c_str(), 0700);
        std::ofstream(StoreFile(), std::ios::binary | std::ios::trunc) << bytes;
    }

    static LONG Set(const std::string& name, DWORD type, const std::string& bytes, const char* key = kKey) {
        HKEY h = nullptr;
        LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &h,
                                  nullptr);
        if (rc != ERROR_SUCCESS) return rc;
        rc = RegSetValueExA(h, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
        RegCloseKey(h);
        return rc;
    }
    /// Reads as the document does: a 260-byte buffer. Null when the read fails.
    static std::optional<std::string> Get(const std::string& name, DWORD* type = nullptr, const char* key = kKey) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return std::nullopt;
        BYTE buffer[kBuffer];
        DWORD size = sizeof buffer;
        const LONG rc = RegQueryValueExA(h, name.c_str(), nullptr, type, buffer, &size);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        return std::string(reinterpret_cast<char*>(buffer), size);
    }

    std::string m_root;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAndExactBytes) {
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"Default Adapter", REG_SZ, std::string("127.0.0.1\0", 10)},
        {"Empty", REG_SZ, ""},
        {"No NUL", REG_SZ, "10.0.0.1"},
        {"Dword", REG_DWORD, std::string("\x01\x00\x00\x7f", 4)},
        {"Binary with spaces and newlines", REG_BINARY, std::string("a b\nc\0\xff END\n", 13)},
        {"Exactly 260", REG_SZ, std::string(260, 'x')},
    };
    for (const Case& c : cases) ASSERT_EQ(Set(c.name, c.type, c.bytes), ERROR_SUCCESS) << c.name;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = 0xdead;
        const auto read = Get(c.name, &type);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, c.bytes);
        EXPECT_EQ(type, c.type);
    }
}

TEST_F(RegistryTest, OverwriteReplacesTheValue) {
    ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("192.168.100.200\0", 16)), ERROR_SUCCESS);
    ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("10.1.1.1\0", 9)), ERROR_SUCCESS);
    EXPECT_EQ(Get("Default Adapter"), std::string("10.1.1.1\0", 9));
}

TEST_F(RegistryTest, ValueOverTheBufferGivesMoreDataAndItsSize) {
    ASSERT_EQ(Set("Long", REG_SZ, std::string(261, 'y')), ERROR_SUCCESS);
    EXPECT_FALSE(Get("Long").has_value());
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &h), ERROR_SUCCESS);
    BYTE buffer[kBuffer];
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(h, "Long", nullptr, nullptr, buffer, &size), static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 261u);
    DWORD type = 0;
    size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "Long", nullptr, &type, nullptr, &size), ERROR_SUCCESS);  // size only
    EXPECT_EQ(size, 261u);
    EXPECT_EQ(type, REG_SZ);
    RegCloseKey(h);
}

TEST_F(RegistryTest, AbsentKeyAndAbsentValue) {
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &h), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(Set("Other", REG_SZ, "x"), ERROR_SUCCESS);
    EXPECT_FALSE(Get("Default Adapter").has_value());
    EXPECT_FALSE(Get("Other", nullptr, "Software\\Elsewhere").has_value());
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndNamesIgnoreCase) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(h);
    for (const char* parent : {"Software", "Software\\Tembrook", "SOFTWARE\\tembrook\\QUORVANE", "\\Software\\\\Tembrook\\"}) {
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, parent, 0, KEY_READ, &h), ERROR_SUCCESS) << parent;
        RegCloseKey(h);
    }
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\TEMBROOK\\quorvane", 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(h);
    ASSERT_EQ(Set("Default Adapter", REG_SZ, "a"), ERROR_SUCCESS);
    EXPECT_EQ(Get("DEFAULT ADAPTER", nullptr, "software\\tembrook\\quorvane"), "a");
}

TEST_F(RegistryTest, BrokenStoreFilesReadAsEmptyAndAreReplacedByTheNextWrite) {
    ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.1\0", 9)), ERROR_SUCCESS);
    const std::string good = ReadFile();
    ASSERT_FALSE(good.empty());
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919 + 13) & 0xff);
    const Case cases[] = {
        {"empty file", ""},
        {"header only", "QUORVANE-REGISTRY 1\n"},
        {"no final newline", good.substr(0, good.size() - 1)},
        {"other format tag", "QUORVANE-REGISTRY 2" + good.substr(good.find('\n'))},
        {"bytes after the end line", good + "K 61\n"},
        {"upper-case hex", "QUORVANE-REGISTRY 1\nK 4A\nEND\n"},
        {"odd hex", "QUORVANE-REGISTRY 1\nK 616\nEND\n"},
        {"unknown record", "QUORVANE-REGISTRY 1\nX 61\nEND\n"},
        {"type not a number", "QUORVANE-REGISTRY 1\nV 61 61 one 61\nEND\n"},
        {"type too large", "QUORVANE-REGISTRY 1\nV 61 61 4294967296 61\nEND\n"},
        {"missing field", "QUORVANE-REGISTRY 1\nV 61 61 1\nEND\n"},
        {"binary garbage", garbage},
        {"NULs", std::string(300, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(c.bytes);
        EXPECT_FALSE(Get("Default Adapter").has_value());
        HKEY h = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
        ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.2\0", 9)), ERROR_SUCCESS);
        EXPECT_EQ(Get("Default Adapter"), std::string("10.0.0.2\0", 9));
    }
}

// Every prefix of a good file is a file cut short by a crash of a writer that
// did not rename: none of them may read as a partial store.
TEST_F(RegistryTest, EveryTruncationOfAGoodFileReadsAsEmpty) {
    ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.1\0", 9)), ERROR_SUCCESS);
    ASSERT_EQ(Set("Second", REG_DWORD, "\x01\x02\x03\x04"), ERROR_SUCCESS);
    const std::string good = ReadFile();
    for (std::size_t length = 0; length < good.size(); ++length) {
        WriteFile(good.substr(0, length));
        ASSERT_FALSE(Get("Default Adapter").has_value()) << "prefix of " << length << " bytes";
        ASSERT_FALSE(Get("Second").has_value()) << "prefix of " << length << " bytes";
    }
    WriteFile(good);
    EXPECT_EQ(Get("Second"), "\x01\x02\x03\x04");
}

TEST_F(RegistryTest, InterruptedOrFailedWriteKeepsTheOldValue) {
    ASSERT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.1\0", 9)), ERROR_SUCCESS);
    // A writer that died before its rename leaves a half-written temporary file.
    std::ofstream(m_root + "/quorvane/registry.tmp.1", std::ios::binary) << "QUORVANE-REGISTRY 1\nV 61";
    EXPECT_EQ(Get("Default Adapter"), std::string("10.0.0.1\0", 9));
    // A write that cannot create its temporary file fails and leaves the store alone.
    const std::string blocker = m_root + "/quorvane/registry.tmp." + std::to_string(getpid());
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    EXPECT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.9\0", 9)), static_cast<LONG>(ERROR_CANTWRITE));
    EXPECT_EQ(Get("Default Adapter"), std::string("10.0.0.1\0", 9));
    rmdir(blocker.c_str());
    EXPECT_EQ(Set("Default Adapter", REG_SZ, std::string("10.0.0.9\0", 9)), ERROR_SUCCESS);
    EXPECT_EQ(Get("Default Adapter"), std::string("10.0.0.9\0", 9));
}

TEST_F(RegistryTest, WithoutXdgConfigHomeTheStoreIsUnderHomeConfig) {
    unsetenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", m_root.c_str(), 1);
    const LONG rc = Set("Default Adapter", REG_SZ, "h");
    setenv("HOME", savedHome.c_str(), 1);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    struct stat info {};
    EXPECT_EQ(stat((m_root + "/.config/quorvane/registry").c_str(), &info), 0);
}

// Two processes write the same value, and each a new value of its own, many
// times while this one reads: every read is one of the two values whole, and
// at the end every own value exists, so no write lost the other's work.
TEST_F(RegistryTest, ConcurrentWritersLeaveOneWholeValue) {
    constexpr int kWrites = 60;
    const std::string values[2] = {std::string(40, 'A') + '\0', std::string(90, 'B') + '\0'};
    ASSERT_EQ(Set("Default Adapter", REG_SZ, values[0]), ERROR_SUCCESS);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                failures += Set("Default Adapter", REG_SZ, values[c]) != ERROR_SUCCESS;
                failures += Set("Writer " + std::to_string(c) + " #" + std::to_string(i), REG_DWORD, "1") != ERROR_SUCCESS;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    int reads = 0;
    for (;;) {
        const auto value = Get("Default Adapter");
        ASSERT_TRUE(value == values[0] || value == values[1]) << "read " << reads << " saw a mixed or missing value";
        ++reads;
        int status = 0;
        if (waitpid(children[0], &status, WNOHANG) == children[0]) {
            EXPECT_EQ(status, 0);
            children[0] = -1;
        }
        if (children[0] == -1) break;
    }
    int status = 0;
    ASSERT_EQ(waitpid(children[1], &status, 0), children[1]);
    EXPECT_EQ(status, 0);
    int lost = 0;
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kWrites; ++i) lost += !Get("Writer " + std::to_string(c) + " #" + std::to_string(i));
    }
    EXPECT_EQ(lost, 0);
    const auto last = Get("Default Adapter");
    EXPECT_TRUE(last == values[0] || last == values[1]);
}

}  // namespace
