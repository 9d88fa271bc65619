// The capture document: the default adapter read at creation with its trace
// lines on standard error, the dialog when none is usable, failures shown in
// message boxes, the enable rules of Start and Stop as the engine's state
// gives them, a real capture on 127.0.0.1, Select Adapter during a capture,
// Save and Open carrying nothing, the release of consumers before the
// document goes, the capture filter (stored, read back, refused when libpcap
// refuses it, and limiting a mixed loopback stream), and adapters named with
// their interfaces.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include <QLineEdit>

#include "app/Resource.h"
#include "document/CCorvelDoc.h"
#include "framework/AfxMessageBox.h"
#include "framework/CCmdUI.h"
#include "framework/FileDialogs.h"
#include "packet/IPPacket.h"
#include "tests/document/DocumentTestSupport.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

using namespace win;
using doctest::ModalWatcher;
using doctest::StderrCapture;

namespace {

/// Records message boxes instead of showing them, for the object's life.
class BoxRecorder {
public:
    BoxRecorder() { win::testing::SetMessageBoxRecorder(&texts); }
    ~BoxRecorder() { win::testing::SetMessageBoxRecorder(nullptr); }
    std::vector<std::string> texts;
};

/// Whether the document's update handler enables the command; the handler must decide.
bool Enabled(CCorvelDoc& doc, UINT id) {
    CCmdUI ui(id);
    EXPECT_TRUE(doc.OnUpdateCmdMsg(&ui));
    EXPECT_TRUE(ui.m_bEnableChanged);
    return ui.m_bEnabled;
}

void ExpectIdle(CCorvelDoc& doc) {
    EXPECT_FALSE(doc.m_engine.IsCapturing());
    EXPECT_TRUE(Enabled(doc, ID_CAPTURE_START));
    EXPECT_FALSE(Enabled(doc, ID_CAPTURE_STOP));
}

void ExpectCapturing(CCorvelDoc& doc) {
    EXPECT_TRUE(doc.m_engine.IsCapturing());
    EXPECT_FALSE(Enabled(doc, ID_CAPTURE_START));
    EXPECT_TRUE(Enabled(doc, ID_CAPTURE_STOP));
}

/// The trace is expected + a decimal last-error code + "\n".
void ExpectTrace(const std::string& trace, const std::string& expected) {
    ASSERT_GE(trace.size(), expected.size() + 2) << trace;
    EXPECT_EQ(trace.substr(0, expected.size()), expected);
    const std::string code = trace.substr(expected.size());
    EXPECT_EQ(code.back(), '\n') << trace;
    EXPECT_TRUE(std::all_of(code.begin(), code.end() - 1, [](char c) { return c >= '0' && c <= '9'; })) << trace;
}

std::vector<std::string> SortedInterfaces() {
    CaptureEngine engine;
    std::vector<std::string> list;
    engine.EnumerateInterfaces(list);
    std::sort(list.begin(), list.end());
    return list;
}

/// An address as the adapter dialog shows it, with its interface's name.
std::string Shown(const std::string& address) {
    CCorvelDoc doc;
    return doc.GetAdapterText(address);
}

std::vector<std::string> ShownInterfaces() {
    std::vector<std::string> shown;
    for (const std::string& address : SortedInterfaces()) shown.push_back(Shown(address));
    return shown;
}

std::size_t QueueSize(CCorvelDoc& doc) {
    EnterCriticalSection(&doc.m_engine.m_csQueue);
    const std::size_t size = doc.m_engine.m_packets.size();
    LeaveCriticalSection(&doc.m_engine.m_csQueue);
    return size;
}

/// Takes every queued record the consumer's way and counts those of the flow
/// (UDP from its source port), waiting up to two seconds for them to arrive.
int TakeFlow(CCorvelDoc& doc, const testsupport::UdpFlow& flow) {
    int seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (seen < flow.sent && std::chrono::steady_clock::now() < deadline) {
        if (QueueSize(doc) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        // A record was appended and nobody else waits, so the signal is pending.
        EXPECT_TRUE(doc.WaitForPacket());
        for (;;) {
            EnterCriticalSection(&doc.m_engine.m_csQueue);
            if (doc.m_engine.m_packets.empty()) {
                LeaveCriticalSection(&doc.m_engine.m_csQueue);
                break;
            }
            Packet* packet = doc.PopPacket();
            LeaveCriticalSection(&doc.m_engine.m_csQueue);
            packet->Decode();
            if (packet->GetProtocol(nullptr) == 17 && packet->GetSourcePort() == flow.sourcePort &&
                packet->GetDestPort() == flow.destPort)
                ++seen;
            delete packet;
        }
    }
    return seen;
}

/// A queued record whose deletion is counted.
class CountedPacket : public IPPacket {
public:
    explicit CountedPacket(std::atomic<int>* deleted) : m_deleted(deleted) { SetReceived(0); }
    ~CountedPacket() override { ++*m_deleted; }

private:
    std::atomic<int>* m_deleted;
};

void Enqueue(CCorvelDoc& doc, Packet* packet) {
    EnterCriticalSection(&doc.m_engine.m_csQueue);
    doc.m_engine.m_packets.push_back(packet);
    LeaveCriticalSection(&doc.m_engine.m_csQueue);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CCorvelDocTest : public doctest::DocumentFixture {};

TEST_F(CCorvelDocTest, ClassRecordAndCommandTable) {
    EXPECT_STREQ(CCorvelDoc::classCCorvelDoc.m_lpszClassName, "CCorvelDoc");
    std::unique_ptr<CObject> made(CCorvelDoc::classCCorvelDoc.CreateObject());
    auto* doc = dynamic_cast<CCorvelDoc*>(made.get());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->GetRuntimeClass(), &CCorvelDoc::classCCorvelDoc);

    const CommandTable* table = doc->GetCommandTable();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->entries.size(), 8u);
    const std::pair<CommandEntry::Kind, UINT> expected[] = {
        {CommandEntry::kCommand, 32771}, {CommandEntry::kUpdate, 32771},  {CommandEntry::kCommand, 32772},
        {CommandEntry::kUpdate, 32772},  {CommandEntry::kCommand, 32774}, {CommandEntry::kCommand, ID_CAPTURE_FILTER},
        {CommandEntry::kCommand, 32790}, {CommandEntry::kUpdate, 32790},
    };
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(table->entries[i].kind, expected[i].first) << i;
        EXPECT_EQ(table->entries[i].id, expected[i].second) << i;
    }
    // The framework's Save and Save As stay reachable through the base table.
    EXPECT_TRUE(doc->HasCommandHandler(ID_FILE_SAVE));
    // Select Adapter has no update handler: handled, hence always enabled.
    CCmdUI ui(ID_CAPTURE_SELECTADAPTER);
    EXPECT_FALSE(doc->OnUpdateCmdMsg(&ui));
    EXPECT_TRUE(doc->HasCommandHandler(ID_CAPTURE_SELECTADAPTER));
    ExpectIdle(*doc);
}

struct StoredCase {
    const char* name;
    DWORD type;
    std::string bytes;
    std::string adapter;  // the text read
};

TEST_F(CCorvelDocTest, StoredDefaultIsTakenWithoutDialog) {
    const StoredCase cases[] = {
        {"text with its NUL", REG_SZ, std::string("127.0.0.1\0", 10), "127.0.0.1"},
        {"another type, no NUL", REG_BINARY, "10.1.2.3", "10.1.2.3"},
        {"text ends at the first NUL", REG_SZ, std::string("10.4.5.6\0junk", 13), "10.4.5.6"},
        {"260 bytes with the NUL", REG_SZ, std::string(259, '7') + '\0', std::string(259, '7')},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.name);
        doctest::ScopedConfigHome config;
        doctest::StoreValue(c.type, c.bytes);
        const auto before = doctest::ReadStored();  // as the store keeps it
        ASSERT_TRUE(before.has_value());
        BoxRecorder boxes;
        CCorvelDoc doc;
        doc.m_engine.m_sAdapter = "9.9.9.9";  // as on a later New
        ModalWatcher watcher;
        StderrCapture capture;
        EXPECT_TRUE(doc.OnNewDocument());
        const std::string trace = capture.Take();

        EXPECT_TRUE(watcher.Dialogs().empty());
        EXPECT_TRUE(boxes.texts.empty());
        EXPECT_EQ(doc.m_engine.m_sAdapter, c.adapter);
        ExpectTrace(trace, "Opened reg key\nRead default adapter key\nszTemp = " + c.adapter +
                               ", m_sAdapter = " + c.adapter + ", GetLastError = ");
        ExpectIdle(doc);
        // The hook reads the setting and writes nothing.
        const auto stored = doctest::ReadStored();
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->bytes, before->bytes);
    }
}

struct UnusableCase {
    const char* name;
    std::function<void()> setUp;
    std::string trace;  // before the last-error code; empty: no trace at all
    std::string adapterAfter;
};

TEST_F(CCorvelDocTest, NoUsableDefaultAsksWithTheDialog) {
    SKIP_UNLESS_CAPTURE_ALLOWED();  // the dialog's list comes from the interface enumeration
    const std::string preset = "9.9.9.9";
    const UnusableCase cases[] = {
        {"key absent", [] {}, "", preset},
        {"key without the value", [] { doctest::CreateKeyOnly(); },
         "Opened reg key\nszTemp = , m_sAdapter = " + preset + ", GetLastError = ", preset},
        {"stored empty text", [] { doctest::StoreValue(REG_SZ, std::string(1, '\0')); },
         "Opened reg key\nRead default adapter key\nszTemp = , m_sAdapter = , GetLastError = ", ""},
        {"stored zero bytes", [] { doctest::StoreValue(REG_SZ, ""); },
         "Opened reg key\nRead default adapter key\nszTemp = , m_sAdapter = , GetLastError = ", ""},
        {"value over 260 bytes", [] { doctest::StoreValue(REG_SZ, std::string(261, '1')); },
         "Opened reg key\nszTemp = , m_sAdapter = " + preset + ", GetLastError = ", preset},
    };
    // Each address is shown with its interface's name.
    const std::vector<std::string> interfaces = ShownInterfaces();
    for (const UnusableCase& c : cases) {
        SCOPED_TRACE(c.name);
        doctest::ScopedConfigHome config;
        c.setUp();
        const auto before = doctest::ReadStored();
        BoxRecorder boxes;
        CCorvelDoc doc;
        doc.m_engine.m_sAdapter = preset;
        ModalWatcher watcher;  // cancels
        StderrCapture capture;
        EXPECT_TRUE(doc.OnNewDocument());
        const std::string trace = capture.Take();

        if (c.trace.empty())
            EXPECT_EQ(trace, "");
        else
            ExpectTrace(trace, c.trace);
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_EQ(watcher.Dialogs()[0].caption, "Select Adapter");
        EXPECT_EQ(watcher.Dialogs()[0].entries, interfaces);
        EXPECT_TRUE(boxes.texts.empty());
        EXPECT_EQ(doc.m_engine.m_sAdapter, c.adapterAfter);
        ExpectIdle(doc);
        // Cancel stored nothing.
        const auto after = doctest::ReadStored();
        EXPECT_EQ(after.has_value(), before.has_value());
        if (after && before) {
            EXPECT_EQ(after->bytes, before->bytes);
        }
    }
}

TEST_F(CCorvelDocTest, DialogChoiceAtCreationBecomesAdapterAndDefault) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    const std::vector<std::string> interfaces = SortedInterfaces();
    ASSERT_FALSE(interfaces.empty());
    const std::string choice = interfaces.back();
    {
        CCorvelDoc doc;
        ModalWatcher watcher(ModalWatcher::Choose(Shown(choice)));
        EXPECT_TRUE(doc.OnNewDocument());
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_EQ(watcher.Dialogs()[0].selected, 0);
        EXPECT_EQ(doc.m_engine.m_sAdapter, choice);
    }
    // The next start reads it back and asks nothing.
    CCorvelDoc doc;
    ModalWatcher watcher;
    StderrCapture capture;
    EXPECT_TRUE(doc.OnNewDocument());
    const std::string trace = capture.Take();
    EXPECT_TRUE(watcher.Dialogs().empty());
    EXPECT_EQ(doc.m_engine.m_sAdapter, choice);
    ExpectTrace(trace, "Opened reg key\nRead default adapter key\nszTemp = " + choice + ", m_sAdapter = " + choice +
                           ", GetLastError = ");
}

TEST_F(CCorvelDocTest, EnumerationFailureShowsOneBoxAndNoDialog) {
    // Without Windows Sockets started the engine cannot make its enumeration socket.
    ASSERT_EQ(WSACleanup(), 0);
    {
        BoxRecorder boxes;
        CCorvelDoc doc;
        doc.m_engine.m_sAdapter = "3.3.3.3";
        ModalWatcher watcher;
        EXPECT_TRUE(doc.OnNewDocument());
        EXPECT_TRUE(watcher.Dialogs().empty());
        EXPECT_EQ(boxes.texts, std::vector<std::string>{"Failed to create socket for enumerating interfaces"});
        EXPECT_EQ(doc.m_engine.m_sAdapter, "3.3.3.3");

        // Select Adapter fails the same way and keeps the adapter.
        boxes.texts.clear();
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_SELECTADAPTER));
        EXPECT_TRUE(watcher.Dialogs().empty());
        EXPECT_EQ(boxes.texts, std::vector<std::string>{"Failed to create socket for enumerating interfaces"});
        EXPECT_EQ(doc.m_engine.m_sAdapter, "3.3.3.3");
        EXPECT_FALSE(doctest::KeyExists("Software"));
    }
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
}

TEST_F(CCorvelDocTest, StartFailureShowsEngineTextAndEnablesAsEngineLeavesIt) {
    BoxRecorder boxes;
    CCorvelDoc doc;
    {
        ModalWatcher watcher;  // cancels
        EXPECT_TRUE(doc.OnNewDocument());
    }
    boxes.texts.clear();  // without the capability the enumeration failed: not what is tested here
    ASSERT_EQ(doc.m_engine.m_sAdapter, "");
    ExpectIdle(doc);

    // What the engine itself says and leaves behind for an empty adapter.
    std::string engineText;
    bool engineCapturing = false;
    {
        CaptureEngine reference;
        try {
            reference.OpenCapture();
        } catch (const std::exception& e) {
            engineText = e.what();
        }
        engineCapturing = reference.IsCapturing();
        reference.CloseCapture();
    }
    ASSERT_FALSE(engineText.empty());

    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{engineText});
    EXPECT_EQ(doc.m_engine.IsCapturing(), engineCapturing);
    if (testsupport::Privileges::CanCapture()) {
        // The socket exists and the bind failed: Stop offered until pressed.
        EXPECT_EQ(engineText.rfind("bind() failed: ", 0), 0u) << engineText;
        ExpectCapturing(doc);
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
    } else {
        EXPECT_EQ(engineText, "Couldn't create capture socket");
    }
    ExpectIdle(doc);
    EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST_F(CCorvelDocTest, RealCaptureOnLoopbackThenStop) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    doctest::StoreValue(REG_SZ, std::string("127.0.0.1\0", 10));
    BoxRecorder boxes;
    CCorvelDoc doc;
    EXPECT_TRUE(doc.OnNewDocument());
    ASSERT_EQ(doc.m_engine.m_sAdapter, "127.0.0.1");

    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    ExpectCapturing(doc);

    testsupport::LoopbackSender sender;
    const testsupport::UdpFlow flow = sender.SendUdp(5, 32);
    ASSERT_EQ(flow.sent, 5);
    EXPECT_EQ(TakeFlow(doc, flow), 5);

    // New with another stored default while capturing: the text changes, the capture goes on.
    doctest::StoreValue(REG_SZ, std::string("10.20.30.40\0", 12));
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.m_engine.m_sAdapter, "10.20.30.40");
    ExpectCapturing(doc);
    const testsupport::UdpFlow more = sender.SendUdp(3, 16);
    EXPECT_EQ(TakeFlow(doc, more), 3);

    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
    ExpectIdle(doc);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(CCorvelDocTest, SelectAdapterDuringCaptureKeepsTheCaptureOnTheOldAdapter) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    const std::vector<std::string> interfaces = SortedInterfaces();
    std::string other;
    for (const std::string& address : interfaces)
        if (address != "127.0.0.1") other = address;
    if (other.empty()) GTEST_SKIP() << "the machine has no IPv4 address besides 127.0.0.1";

    doctest::StoreValue(REG_SZ, std::string("127.0.0.1\0", 10));
    BoxRecorder boxes;
    CCorvelDoc doc;
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    ExpectCapturing(doc);

    {
        // Cancel keeps everything.
        ModalWatcher watcher;
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_SELECTADAPTER));
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_EQ(doc.m_engine.m_sAdapter, "127.0.0.1");
        EXPECT_EQ(doctest::ReadStored()->bytes, std::string("127.0.0.1\0", 10));
    }
    {
        ModalWatcher watcher(ModalWatcher::Choose(Shown(other)));
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_SELECTADAPTER));
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_EQ(watcher.Dialogs()[0].entries, ShownInterfaces());
        // The first in sorted order, not the adapter in use.
        EXPECT_EQ(watcher.Dialogs()[0].selected, 0);
    }
    EXPECT_EQ(doc.m_engine.m_sAdapter, other);
    EXPECT_EQ(doctest::ReadStored()->bytes, other + std::string(1, '\0'));

    // Still capturing on 127.0.0.1.
    ExpectCapturing(doc);
    testsupport::LoopbackSender sender;
    const testsupport::UdpFlow flow = sender.SendUdp(4, 24);
    EXPECT_EQ(TakeFlow(doc, flow), 4);

    // After Stop, Start opens on the new adapter (no traffic is sent there).
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
    ExpectIdle(doc);
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    ExpectCapturing(doc);
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
}

// A machine with thousands of addresses: Select Adapter lists every one of
// them (3,000 on lo in a network namespace of the test's own, besides
// 127.0.0.1), and the one chosen becomes the adapter.
TEST_F(CCorvelDocTest, SelectAdapterListsThousandsOfAddresses) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    SKIP_UNLESS_ISOLATION_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated([] {
        const std::vector<std::string> added = testsupport::NetNamespace::AddAddresses("lo", 3000);
        ASSERT_EQ(added.size(), 3000u);
        BoxRecorder boxes;
        CCorvelDoc doc;
        const std::string chosen = added.back();
        ModalWatcher watcher(ModalWatcher::Choose(chosen + " (lo)"));
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_SELECTADAPTER));
        EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        const std::vector<std::string>& entries = watcher.Dialogs()[0].entries;
        ASSERT_EQ(entries.size(), 3001u);
        // Each entry starts with its address (a name may follow it).
        std::vector<std::string> listed;
        for (const std::string& entry : entries) listed.push_back(entry.substr(0, entry.find(' ')));
        std::vector<std::string> expected = added;
        expected.push_back("127.0.0.1");
        std::sort(listed.begin(), listed.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected);
        EXPECT_EQ(doc.m_engine.m_sAdapter, chosen);
    }));
}

TEST_F(CCorvelDocTest, SaveWritesACaptureFileInPlaceOfTheOlderOne) {
    CCorvelDoc doc;
    doc.m_engine.m_sAdapter = "127.0.0.1";
    const std::string path = m_config.Dir() + "/capture.pcapng";
    std::ofstream(path) << "earlier contents";
    EXPECT_TRUE(doc.OnSaveDocument(path.c_str()));
    // Without a view there are no rows: a pcapng section, its interface and statistics.
    const std::string written = ReadFile(path);
    ASSERT_GE(written.size(), 28u);
    EXPECT_EQ(written.substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));
    EXPECT_NE(written.find("Quorvane"), std::string::npos);
    EXPECT_NE(written.find("127.0.0.1"), std::string::npos);

    // Save As through the command, answered by the file dialog seam.
    const std::string other = m_config.Dir() + "/other.pcapng";
    win::testing::SetFileDialogAnswer(other);
    EXPECT_TRUE(doc.OnCmdMsg(ID_FILE_SAVE_AS));
    win::testing::SetFileDialogAnswer(std::nullopt);
    EXPECT_EQ(ReadFile(other).substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));
    EXPECT_EQ(doc.GetPathName(), other);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.m_engine.m_sAdapter, "127.0.0.1");
}

TEST_F(CCorvelDocTest, OpenOfNoCaptureFileLeavesCaptureAdapterAndQueueAlone) {
    std::atomic<int> deleted{0};
    BoxRecorder boxes;
    auto doc = std::make_unique<CCorvelDoc>();
    doc->m_engine.m_sAdapter = "127.0.0.1";
    const bool capture = testsupport::Privileges::CanCapture();
    if (capture) {
        doc->OnCmdMsg(ID_CAPTURE_START);
        ASSERT_TRUE(doc->m_engine.IsCapturing());
    }
    Packet* queued[3];
    for (Packet*& packet : queued) {
        packet = new CountedPacket(&deleted);
        Enqueue(*doc, packet);
    }

    const std::string path = m_config.Dir() + "/saved.doc";
    std::ofstream(path, std::ios::binary) << std::string("\x01\x02 any bytes \xff", 14);
    ModalWatcher watcher;
    StderrCapture trace;
    EXPECT_FALSE(doc->OnOpenDocument(path.c_str()));
    EXPECT_EQ(trace.Take(), "");  // the new-document hook does not run
    EXPECT_TRUE(watcher.Dialogs().empty());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].rfind("Couldn't open \"" + path + "\": ", 0), 0u) << boxes.texts[0];

    EXPECT_EQ(doc->m_engine.IsCapturing(), capture);
    EXPECT_EQ(doc->m_engine.m_sAdapter, "127.0.0.1");
    EnterCriticalSection(&doc->m_engine.m_csQueue);
    ASSERT_GE(doc->m_engine.m_packets.size(), 3u);  // a running capture may add more behind them
    for (int i = 0; i < 3; ++i) EXPECT_EQ(doc->m_engine.m_packets[i], queued[i]);
    LeaveCriticalSection(&doc->m_engine.m_csQueue);
    EXPECT_EQ(deleted.load(), 0);
    EXPECT_EQ(ReadFile(path).size(), 14u);  // Open leaves the file as it was
    EXPECT_FALSE(doc->IsModified());

    // A capture file (zero bytes, as earlier versions saved) replaces the
    // capture: it stops, and what it had queued goes.
    const std::string empty = m_config.Dir() + "/empty.cap";
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_TRUE(doc->OnOpenDocument(empty.c_str()));
    EXPECT_EQ(boxes.texts.size(), 1u);
    EXPECT_FALSE(doc->m_engine.IsCapturing());
    EXPECT_EQ(deleted.load(), 3);
    EXPECT_EQ(doc->m_engine.m_sAdapter, "127.0.0.1");
    doc->StopReading();
    EXPECT_FALSE(doc->IsModified());
    doc.reset();
}

TEST_F(CCorvelDocTest, ReleaseConsumersEndsABlockedConsumerBeforeTheDocumentGoes) {
    auto doc = std::make_unique<CCorvelDoc>();
    std::atomic<bool> waiting{false};
    auto consumer = std::async(std::launch::async, [&] {
        waiting = true;
        return doc->WaitForPacket();
    });
    while (!waiting) std::this_thread::yield();
    EXPECT_EQ(consumer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);

    doc->ReleaseConsumers();
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(consumer.get());
    // From now on every wait returns false at once; releasing again is harmless.
    EXPECT_FALSE(doc->WaitForPacket());
    doc->ReleaseConsumers();
    doc.reset();
}

}  // namespace

namespace {

void StoreNamed(const char* name, const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, doctest::kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                              nullptr, &key, nullptr),
              0);
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              0);
    RegCloseKey(key);
}

struct Taken {
    int protocol;
    int sourcePort;
    int destPort;
    int size;
};

/// Takes every queued record the consumer's way until `until` holds for what
/// was taken or two seconds pass, then for a further 300 ms, so that records
/// that should not be there have time to show up.
std::vector<Taken> TakeAll(CCorvelDoc& doc, const std::function<bool(const std::vector<Taken>&)>& until) {
    std::vector<Taken> taken;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool settled = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!settled && until(taken)) {
            settled = true;
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        }
        if (QueueSize(doc) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        EXPECT_TRUE(doc.WaitForPacket());
        for (;;) {
            EnterCriticalSection(&doc.m_engine.m_csQueue);
            if (doc.m_engine.m_packets.empty()) {
                LeaveCriticalSection(&doc.m_engine.m_csQueue);
                break;
            }
            Packet* packet = doc.PopPacket();
            LeaveCriticalSection(&doc.m_engine.m_csQueue);
            packet->Decode();
            taken.push_back({packet->GetProtocol(nullptr), packet->GetSourcePort(), packet->GetDestPort(),
                             static_cast<int>(packet->GetSize(nullptr))});
            delete packet;
        }
    }
    return taken;
}

}  // namespace

TEST_F(CCorvelDocTest, CaptureFilterIsReadAtCreationAndLimitsAMixedLoopbackStream) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    doctest::StoreValue(REG_SZ, std::string("127.0.0.1\0", 10));
    // UDP datagrams of 60 bytes in all (32 bytes of payload) only.
    StoreNamed("Capture Filter", std::string("udp and ip[2:2] = 60\0", 21));
    BoxRecorder boxes;
    CCorvelDoc doc;
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.m_sCaptureFilter, "udp and ip[2:2] = 60");

    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    ASSERT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    ExpectCapturing(doc);

    testsupport::LoopbackSender sender;
    const testsupport::UdpFlow kept = sender.SendUdp(6, 32);
    const testsupport::UdpFlow smaller = sender.SendUdp(6, 16);
    const testsupport::UdpFlow larger = sender.SendUdp(6, 33);
    const testsupport::TcpFlow tcp = testsupport::LoopbackSender::SendTcp({32, 32});
    ASSERT_EQ(kept.sent, 6);
    ASSERT_EQ(smaller.sent, 6);
    ASSERT_EQ(larger.sent, 6);
    ASSERT_TRUE(tcp.completed);
    const auto countOf = [](const std::vector<Taken>& taken, const testsupport::UdpFlow& flow) {
        return std::count_if(taken.begin(), taken.end(), [&](const Taken& t) {
            return t.protocol == 17 && t.sourcePort == flow.sourcePort && t.destPort == flow.destPort;
        });
    };
    const std::vector<Taken> taken = TakeAll(doc, [&](const auto& t) { return countOf(t, kept) >= 6; });
    EXPECT_EQ(countOf(taken, kept), 6);
    EXPECT_EQ(countOf(taken, smaller), 0);
    EXPECT_EQ(countOf(taken, larger), 0);
    // Whatever else loopback carried meanwhile, the capture kept only what the filter matches.
    for (const Taken& t : taken) {
        EXPECT_EQ(t.protocol, 17);
        EXPECT_EQ(t.size, 60);
    }
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));

    // Without the filter the next capture keeps the others again.
    doc.m_sCaptureFilter.clear();
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    const testsupport::UdpFlow again = sender.SendUdp(4, 16);
    const std::vector<Taken> unfiltered = TakeAll(doc, [&](const auto& t) { return countOf(t, again) >= 4; });
    EXPECT_EQ(countOf(unfiltered, again), 4);
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(CCorvelDocTest, AStoredFilterLibpcapRefusesStopsTheStartWithItsMessage) {
    doctest::StoreValue(REG_SZ, std::string("127.0.0.1\0", 10));
    StoreNamed("Capture Filter", std::string("udp port\0", 9));
    BoxRecorder boxes;
    CCorvelDoc doc;
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.m_sCaptureFilter, "udp port");
    PacketFilter reference;
    std::string message;
    ASSERT_FALSE(reference.Compile("udp port", message));

    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Capture Filter: " + message});
    ExpectIdle(doc);
    EXPECT_EQ(doc.GetCapturingOn(), "");
}

TEST_F(CCorvelDocTest, CaptureFilterCommandRunsTheDialogAndTheNewExpressionStays) {
    CCorvelDoc doc;
    doc.m_sCaptureFilter = "icmp";
    {
        ModalWatcher watcher([](QDialog* dialog, QComboBox*) {
            QLineEdit* field = dialog->findChild<QLineEdit*>();
            ASSERT_NE(field, nullptr);
            EXPECT_EQ(field->text(), "icmp");
            field->setText("tcp port 80");
            ModalWatcher::ClickButton(dialog, "OK");
        });
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_FILTER));
    }
    EXPECT_EQ(doc.m_sCaptureFilter, "tcp port 80");
    {
        ModalWatcher watcher;  // cancels
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_FILTER));
    }
    EXPECT_EQ(doc.m_sCaptureFilter, "tcp port 80");

    // A new document reads what the dialog stored.
    CCorvelDoc next;
    doctest::StoreValue(REG_SZ, std::string("127.0.0.1\0", 10));
    EXPECT_TRUE(next.OnNewDocument());
    EXPECT_EQ(next.m_sCaptureFilter, "tcp port 80");
}

TEST_F(CCorvelDocTest, AdaptersAreNamedWithTheirInterfaceAndTheCaptureSaysWhichRuns) {
    CCorvelDoc doc;
    EXPECT_EQ(doc.GetAdapterText("127.0.0.1"), "127.0.0.1 (lo)");
    // An address no interface owns is shown alone.
    EXPECT_EQ(doc.GetAdapterText("192.0.2.77"), "192.0.2.77");
    EXPECT_EQ(doc.GetAdapterText("not an address"), "not an address");

    if (!testsupport::Privileges::CanCapture()) return;  // listing the adapters needs the capture socket
    // The adapter dialog shows the names; the stored default stays the bare address.
    {
        ModalWatcher watcher(ModalWatcher::Choose("127.0.0.1 (lo)"));
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_SELECTADAPTER));
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        const auto& entries = watcher.Dialogs()[0].entries;
        EXPECT_NE(std::find(entries.begin(), entries.end(), "127.0.0.1 (lo)"), entries.end());
    }
    EXPECT_EQ(doc.m_engine.m_sAdapter, "127.0.0.1");
    const auto stored = doctest::ReadStored();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->bytes, std::string("127.0.0.1\0", 10));

    BoxRecorder boxes;
    EXPECT_EQ(doc.GetCapturingOn(), "");
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
    EXPECT_EQ(doc.GetCapturingOn(), "127.0.0.1 (lo)");
    EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_STOP));
    EXPECT_EQ(doc.GetCapturingOn(), "");
    EXPECT_TRUE(boxes.texts.empty());
}

// The interface of a running capture is deleted: the capture ends by itself,
// the caption stops naming the adapter, and the status bar says why.
TEST_F(CCorvelDocTest, ACaptureWhoseInterfaceGoesAwaySaysWhy) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    SKIP_UNLESS_ISOLATION_ALLOWED();
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunWithVeth([](const testsupport::NetNamespace::Veth& veth) {
        BoxRecorder boxes;
        CCorvelDoc doc;
        doc.m_engine.m_sAdapter = veth.localAddress;
        EXPECT_TRUE(doc.OnCmdMsg(ID_CAPTURE_START));
        ExpectCapturing(doc);
        EXPECT_EQ(doc.GetCapturingOn(), veth.localAddress + " (" + veth.localName + ")");
        ASSERT_TRUE(testsupport::NetNamespace::DeleteLink(veth.localName));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (doc.m_engine.IsCapturing() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ExpectIdle(doc);  // the idle pass's update notices the end
        EXPECT_EQ(doc.GetCapturingOn(), "");
        EXPECT_EQ(doc.GetCaptureEnded(), "Capture stopped: the interface of " + veth.localAddress + " (" +
                                              veth.localName + ") went away");
        EXPECT_TRUE(boxes.texts.empty());
    }));
}
