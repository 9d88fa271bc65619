// Fixtures for the document and adapter-dialog tests: a private configuration
// folder per test (the per-user store lives there), direct access to the
// stored setting, standard error captured around a call, and a watcher that
// answers the modal dialogs a call opens.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgramResources.h"
#include "platform/WinRegistry.h"
#include "platform/WinSock.h"

namespace doctest {

inline constexpr const char* kKey = "Software\\Tembrook\\Quorvane";
inline constexpr const char* kValue = "Default Adapter";

/// XDG_CONFIG_HOME points at a fresh temporary folder for the object's life.
class ScopedConfigHome {
public:
    ScopedConfigHome() {
        char pattern[] = "/tmp/qv-document-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) m_old = old;
        ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    ~ScopedConfigHome() {
        if (m_old)
            ::setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
    std::optional<std::string> m_old;
};

struct StoredValue {
    win::DWORD type;
    std::string bytes;
};

inline void StoreValue(win::DWORD type, const std::string& bytes) {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, kKey, 0, nullptr, win::REG_OPTION_NON_VOLATILE,
                                   win::KEY_WRITE, nullptr, &key, nullptr),
              0);
    ASSERT_EQ(win::RegSetValueExA(key, kValue, 0, type, reinterpret_cast<const win::BYTE*>(bytes.data()),
                                  static_cast<win::DWORD>(bytes.size())),
              0);
    win::RegCloseKey(key);
}

inline void CreateKeyOnly() {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, kKey, 0, nullptr, win::REG_OPTION_NON_VOLATILE,
                                   win::KEY_WRITE, nullptr, &key, nullptr),
              0);
    win::RegCloseKey(key);
}

inline bool KeyExists(const char* path) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_READ, &key) != 0) return false;
    win::RegCloseKey(key);
    return true;
}

/// The stored default, read with a large buffer; nullopt when absent.
inline std::optional<StoredValue> ReadStored() {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, kKey, 0, win::KEY_READ, &key) != 0) return std::nullopt;
    std::string buffer(4096, '\0');
    win::DWORD size = static_cast<win::DWORD>(buffer.size());
    win::DWORD type = 0;
    const win::LONG result =
        win::RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<win::BYTE*>(buffer.data()), &size);
    win::RegCloseKey(key);
    if (result != 0) return std::nullopt;
    buffer.resize(size);
    return StoredValue{type, buffer};
}

/// Captures what is written to file descriptor 2 between construction and
/// Take(). Qt's own diagnostics are held back meanwhile, so that only the
/// program's writes are seen.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = ::dup(2);
        ::dup2(::fileno(m_file), 2);
        m_previousHandler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    }
    ~StderrCapture() { Take(); }
    std::string Take() {
        if (!m_file) return m_text;
        std::fflush(stderr);
        qInstallMessageHandler(m_previousHandler);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        std::rewind(m_file);
        char chunk[512];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0) m_text.append(chunk, n);
        std::fclose(m_file);
        m_file = nullptr;
        return m_text;
    }

private:
    std::FILE* m_file = nullptr;
    int m_saved = -1;
    QtMessageHandler m_previousHandler = nullptr;
    std::string m_text;
};

/// Watches for modal dialogs while it lives: each one that becomes active is
/// recorded (its caption, entries and selection) and handed to the answer,
/// which must close it. The default answer cancels.
class ModalWatcher {
public:
    struct Seen {
        std::string caption;
        std::vector<std::string> entries;  // the combo box entries, in list order
        int selected = -2;                 // the combo box's current index; -2 without one
    };
    using Answer = std::function<void(QDialog* dialog, QComboBox* combo)>;

    explicit ModalWatcher(Answer answer = Cancel()) : m_answer(std::move(answer)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() { Poll(); });
        m_timer.start();
    }

    static Answer Cancel() {
        return [](QDialog* dialog, QComboBox*) { dialog->reject(); };
    }
    /// Selects the entry with this text, then presses OK.
    static Answer Choose(const std::string& text) {
        return [text](QDialog* dialog, QComboBox* combo) {
            if (combo) combo->setCurrentIndex(combo->findText(QString::fromStdString(text)));
            ClickButton(dialog, "OK");
        };
    }
    static Answer PressOk() {
        return [](QDialog* dialog, QComboBox*) { ClickButton(dialog, "OK"); };
    }
    static void ClickButton(QDialog* dialog, const char* text) {
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == text) {
                button->click();
                return;
            }
        ADD_FAILURE() << "no button " << text;
        dialog->reject();
    }

    const std::vector<Seen>& Dialogs() const { return m_seen; }

private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == m_current) return;
        m_current = dialog;
        Seen seen;
        seen.caption = dialog->windowTitle().toStdString();
        QComboBox* combo = dialog->findChild<QComboBox*>();
        if (combo) {
            for (int i = 0; i < combo->count(); ++i) seen.entries.push_back(combo->itemText(i).toStdString());
            seen.selected = combo->currentIndex();
        }
        m_seen.push_back(seen);
        m_answer(dialog, combo);
    }

    QTimer m_timer;
    Answer m_answer;
    QPointer<QDialog> m_current;  // nulls itself when the dialog is deleted
    std::vector<Seen> m_seen;
};

/// Winsock started, the program's resources registered, a private store.
class DocumentFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // The trace lines are debug output: asked for here, where they are checked.
        ::setenv("QUORVANE_DEBUG", "1", 1);
        win::RegisterProgramResources();
        win::WSADATA data;
        ASSERT_EQ(win::WSAStartup(0x0202, &data), 0);
    }
    void TearDown() override { win::WSACleanup(); }

    static bool IsRoot() { return ::geteuid() == 0; }

    ScopedConfigHome m_config;
};

}  // namespace doctest
