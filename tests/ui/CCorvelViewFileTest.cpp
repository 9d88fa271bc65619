// Capture files through the document and the list view: opened files give
// the same rows whatever their link type, what is saved opens again with the
// same rows, a capture on loopback saves every datagram's bytes and time as
// tshark reads them, damaged files keep the rows they can, stopping a read
// keeps what was read, unsaved rows are never dropped without asking, and a
// save that fails leaves the older file, the title and the rows as they were.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ViewTestSupport.h"
#include "framework/AfxMessageBox.h"
#include "framework/FileDialogs.h"
#include "tests/packet/CaptureFileBuilder.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/Privileges.h"

using namespace viewtest;
using testdata::FileBytes;

namespace {

namespace fs = std::filesystem;

using Row = std::array<std::string, 8>;

/// A folder of its own under the temporary folder, removed afterwards.
class Folder {
public:
    Folder() {
        m_path = fs::temp_directory_path() / ("qv-files-" + std::to_string(::getpid()) + "-" + std::to_string(++s_n));
        fs::create_directories(m_path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, ignored);
        fs::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::string Write(const std::string& name, const FileBytes& bytes) const {
        std::ofstream out(File(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_path)) names.push_back(entry.path().filename().string());
        return names;
    }
    const fs::path& Path() const { return m_path; }

private:
    static inline int s_n = 0;
    fs::path m_path;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// A UDP or TCP datagram k between loopback addresses, of some size below 1,500 bytes.
FileBytes Datagram(int k) {
    const bool tcp = k % 3 == 0;
    testdata::Bytes transport = tcp ? testdata::TcpHeader(static_cast<std::uint16_t>(40000 + k), 80, 0x12)
                                    : testdata::Bytes{0x9C, 0x40, 0x00, 0x35, 0, 12, 0, 0, 1, 2, 3, 4};
    const int total = 20 + static_cast<int>(transport.size()) + k % 1400;
    testdata::Bytes d = testdata::Datagram(5, tcp ? 6 : 17, 0x7F000001, 0x7F000000u + static_cast<unsigned>(k % 200),
                                           total, {});
    d.insert(d.end(), transport.begin(), transport.end());
    d.resize(static_cast<std::size_t>(total), static_cast<std::uint8_t>(k));
    return d;
}

/// A classic pcap file of the link type holding count datagrams wrapped by wrap.
template <class Wrap>
FileBytes MakeFile(std::uint32_t linkType, int count, Wrap wrap) {
    FileBytes file = testdata::PcapHeader(linkType);
    for (int k = 0; k < count; ++k)
        testdata::PcapRecord(file, 1700000000u + static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k * 1013),
                             wrap(Datagram(k)));
    return file;
}

class CCorvelViewFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::testing::SetMessageBoxRecorder(&m_boxes);
        win::testing::SetMessageBoxAnswer(win::IDCANCEL);
    }
    void TearDown() override {
        win::testing::SetMessageBoxRecorder(nullptr);
        win::testing::SetFileDialogAnswer(std::nullopt);
    }

    /// Opens the file in the harness and waits until reading has ended and every row is in.
    bool Open(Harness& h, const std::string& path) {
        if (!h.doc->OnOpenDocument(path.c_str())) return false;
        h.doc->SetPathName(path);
        return PumpUntil([&] { return !h.doc->IsReading() && h.doc->m_engine.GetQueuedCount() == 0; }, 20000) &&
               PumpUntil([&] { return true; }, 50);
    }
    std::vector<Row> Rows(Harness& h) {
        std::vector<Row> rows;
        for (int i = 0; i < h.List().GetItemCount(); ++i) {
            Row row;
            for (int c = 0; c < 8; ++c) row[static_cast<std::size_t>(c)] = h.Cell(i, c);
            rows.push_back(row);
        }
        return rows;
    }

    std::vector<std::string> m_boxes;
    Folder m_folder;
};

TEST_F(CCorvelViewFileTest, EveryLinkTypeGivesTheRowsOfRawIP) {
    Harness h;
    const int n = 60;
    ASSERT_TRUE(Open(h, m_folder.Write("raw.pcap", MakeFile(101, n, [](FileBytes d) { return d; }))));
    const std::vector<Row> raw = Rows(h);
    ASSERT_EQ(raw.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(raw[4][1], "127.0.0.1");
    EXPECT_EQ(raw[4][5], "UDP");
    EXPECT_EQ(raw[3][7], "flags: SYN ACK ");
    EXPECT_FALSE(h.doc->IsModified());

    const std::vector<std::pair<const char*, FileBytes>> others = {
        {"ether.pcap", MakeFile(1, n, [](FileBytes d) { return testdata::EthernetFrame(0x0800, d, {0x8100}); })},
        {"cooked.pcap", MakeFile(113, n, [](FileBytes d) { return testdata::CookedFrame(0x0800, d); })},
        {"cooked2.pcap", MakeFile(276, n, [](FileBytes d) { return testdata::Cooked2Frame(0x0800, d); })},
    };
    for (const auto& [name, bytes] : others) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Open(h, m_folder.Write(name, bytes)));
        EXPECT_EQ(Rows(h), raw);
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CCorvelViewFileTest, WhatIsSavedOpensAgainWithTheSameRows) {
    Harness h;
    ASSERT_TRUE(Open(h, m_folder.Write("in.pcap", MakeFile(1, 300, [](FileBytes d) {
        return testdata::EthernetFrame(0x0800, d);
    }))));
    const std::vector<Row> before = Rows(h);
    ASSERT_EQ(before.size(), 300u);
    const std::string saved = m_folder.File("out.pcapng");
    ASSERT_TRUE(h.doc->OnSaveDocument(saved.c_str()));
    ASSERT_TRUE(Open(h, saved));
    EXPECT_EQ(Rows(h), before);
    // The detail window works on rows from a file as on live ones.
    // (The list follows its newest row, so the last one is in view.)
    const int last = h.List().GetItemCount() - 1;
    ASSERT_TRUE(PumpUntil([&] { return h.RowCenter(last).y() > 0; }));
    h.DoubleClick(last);
    ASSERT_TRUE(PumpUntil([&] { return win::IsWindow(h.view->m_wndPacket.m_hWnd) != win::FALSE; }));
    EXPECT_EQ(h.view->m_wndPacket.m_pPacket, reinterpret_cast<Packet*>(h.List().GetItemData(last)));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CCorvelViewFileTest, ZeroByteFileOpensEmptyAndDamagedFilesSaySo) {
    Harness h;
    ASSERT_TRUE(Open(h, m_folder.Write("good.pcap", MakeFile(101, 5, [](FileBytes d) { return d; }))));
    ASSERT_EQ(h.List().GetItemCount(), 5);

    // Not a capture file: the message, and the rows stay.
    const std::string text = m_folder.Write("notes.txt", FileBytes{'n', 'o', 't', 'e', 's', '\n', 'x', 'y'});
    EXPECT_FALSE(h.doc->OnOpenDocument(text.c_str()));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].rfind("Couldn't open \"" + text + "\": ", 0), 0u) << m_boxes[0];
    EXPECT_EQ(h.List().GetItemCount(), 5);

    // A folder is no file either.
    EXPECT_FALSE(h.doc->OnOpenDocument(m_folder.Path().c_str()));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].rfind("Couldn't open \"", 0), 0u) << m_boxes[1];
    EXPECT_EQ(h.List().GetItemCount(), 5);

    // Cut off in the middle: the rows before the damage, and a message.
    FileBytes cut = MakeFile(101, 10, [](FileBytes d) { return d; });
    cut.resize(cut.size() - 10);
    ASSERT_TRUE(Open(h, m_folder.Write("cut.pcap", cut)));
    EXPECT_EQ(h.List().GetItemCount(), 9);
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[2].rfind("Couldn't read all of \"" + m_folder.File("cut.pcap") + "\": ", 0), 0u) << m_boxes[2];

    // Zero bytes, as earlier versions saved: an empty capture.
    ASSERT_TRUE(Open(h, m_folder.Write("empty.qv", FileBytes{})));
    EXPECT_EQ(h.List().GetItemCount(), 0);
    EXPECT_EQ(m_boxes.size(), 3u);
}

TEST_F(CCorvelViewFileTest, StoppingAReadKeepsEveryRowRead) {
    Harness h;
    constexpr int kTotal = 200000;
    const std::string path = m_folder.Write("big.pcap", MakeFile(101, kTotal, [](FileBytes d) { return d; }));
    ASSERT_TRUE(h.doc->OnOpenDocument(path.c_str()));
    EXPECT_TRUE(h.doc->IsReading());
    ASSERT_TRUE(PumpUntil([&] { return h.List().GetItemCount() > 0; }));
    h.doc->StopReading();  // what Escape does
    EXPECT_FALSE(h.doc->IsReading());
    ASSERT_TRUE(PumpUntil([&] { return h.doc->m_engine.GetQueuedCount() == 0; }));
    PumpUntil([] { return false; }, 200);
    const int rows = h.List().GetItemCount();
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(h.List().GetItemCount(), rows) << "no row comes after the stop";
    EXPECT_GT(rows, 0);
    EXPECT_LE(rows, kTotal);
    // Every row holds the datagram read at its place.
    for (int i : {0, rows / 2, rows - 1}) EXPECT_EQ(h.Cell(i, 6), std::to_string(Datagram(i).size())) << i;
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CCorvelViewFileTest, CapturedRowsMarkTheDocumentAndLoadedOnesDoNot) {
    Harness h;
    h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2));
    EXPECT_FALSE(h.doc->IsModified());
    h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2), true);
    EXPECT_TRUE(h.doc->IsModified());
    ASSERT_TRUE(h.doc->OnSaveDocument(m_folder.File("a.pcapng").c_str()));
    EXPECT_FALSE(h.doc->IsModified());
    h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2), true);
    EXPECT_TRUE(h.doc->IsModified());
    ASSERT_TRUE(Open(h, m_folder.File("a.pcapng")));
    EXPECT_FALSE(h.doc->IsModified());
    EXPECT_EQ(h.List().GetItemCount(), 2);
}

TEST_F(CCorvelViewFileTest, ClearAndTheFrameworkAskBeforeUnsavedRowsGo) {
    Harness h;
    h.doc->SetTitle("Untitiled");
    h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2), true);
    h.view->AddPacketRow(Udp(0x7F000001, 3, 0x7F000001, 4), true);

    // Cancel: nothing changes.
    win::testing::SetMessageBoxAnswer(win::IDCANCEL);
    h.view->OnCaptureClear();
    ASSERT_EQ(m_boxes, std::vector<std::string>{"Save changes to Untitiled?"});
    EXPECT_EQ(h.List().GetItemCount(), 2);
    EXPECT_TRUE(h.doc->IsModified());
    EXPECT_FALSE(h.doc->SaveModified());

    // Yes, then Cancel in the file dialog: nothing changes either.
    win::testing::SetMessageBoxAnswer(win::IDYES);
    win::testing::SetFileDialogAnswer("");
    h.view->OnCaptureClear();
    EXPECT_EQ(h.List().GetItemCount(), 2);
    EXPECT_TRUE(h.doc->IsModified());
    EXPECT_EQ(win::testing::GetLastFileDialogFilter(), "All files (*)");

    // Yes with a name: saved, then cleared.
    const std::string path = m_folder.File("kept.pcapng");
    win::testing::SetFileDialogAnswer(path);
    h.view->OnCaptureClear();
    EXPECT_EQ(h.List().GetItemCount(), 0);
    EXPECT_FALSE(h.doc->IsModified());
    EXPECT_EQ(h.doc->GetTitle(), "kept.pcapng");
    ASSERT_TRUE(Open(h, path));
    EXPECT_EQ(h.List().GetItemCount(), 2);

    // No: cleared without saving. A clean document asks nothing.
    h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2), true);
    const std::size_t asked = m_boxes.size();
    win::testing::SetMessageBoxAnswer(win::IDNO);
    h.view->OnCaptureClear();
    EXPECT_EQ(m_boxes.size(), asked + 1);
    EXPECT_EQ(h.List().GetItemCount(), 0);
    h.view->OnCaptureClear();
    EXPECT_EQ(m_boxes.size(), asked + 1);
    EXPECT_TRUE(h.doc->SaveModified());
}

// Runs body with writes beyond limit bytes failing (EFBIG), as a full disk makes them fail.
template <class Body>
void WithFileSizeLimit(rlim_t limit, Body body) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &small);
    body();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
}

TEST_F(CCorvelViewFileTest, AFailedSaveLeavesTheOlderFileTheTitleAndTheRows) {
    Harness h;
    const std::string path = m_folder.Write("old.pcapng", FileBytes{'o', 'l', 'd'});
    h.doc->SetPathName(path);
    for (int i = 0; i < 400; ++i) h.view->AddPacketRow(Udp(0x7F000001, 1, 0x7F000001, 2, 1200), true);
    ASSERT_TRUE(PumpUntil([&] { return h.List().GetItemCount() == 400; }));

    WithFileSizeLimit(64 * 1024, [&] { EXPECT_FALSE(h.doc->OnSaveDocument(path.c_str())); });
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], "Couldn't save \"" + path + "\": File too large");
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_EQ(m_folder.Names(), std::vector<std::string>{"old.pcapng"});  // no temporary file left
    EXPECT_EQ(h.doc->GetTitle(), "old.pcapng");
    EXPECT_TRUE(h.doc->IsModified());
    EXPECT_EQ(h.List().GetItemCount(), 400);

    // A folder that does not exist, and a folder in the way.
    const std::string nowhere = m_folder.File("missing/x.pcapng");
    EXPECT_FALSE(h.doc->OnSaveDocument(nowhere.c_str()));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1], "Couldn't save \"" + nowhere + "\": No such file or directory");
    fs::create_directory(m_folder.File("dir"));
    EXPECT_FALSE(h.doc->OnSaveDocument(m_folder.File("dir").c_str()));
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[2], "Couldn't save \"" + m_folder.File("dir") + "\": Is a directory");

    // Without write permission on the folder (root is never refused).
    if (::geteuid() != 0) {
        fs::permissions(m_folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(h.doc->OnSaveDocument(path.c_str()));
        ASSERT_EQ(m_boxes.size(), 4u);
        EXPECT_EQ(m_boxes[3], "Couldn't save \"" + path + "\": Permission denied");
        fs::permissions(m_folder.Path(), fs::perms::owner_all);
        EXPECT_EQ(ReadText(path), "old");
    }

    // And when it works, the file is replaced whole.
    ASSERT_TRUE(h.doc->OnSaveDocument(path.c_str()));
    EXPECT_FALSE(h.doc->IsModified());
    EXPECT_EQ(m_folder.Names().size(), 2u);  // old.pcapng and dir
    EXPECT_GT(fs::file_size(path), 400u * 1228u);
}

std::string Output(const std::string& command) {
    std::string out;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

TEST_F(CCorvelViewFileTest, ALoopbackCaptureSavesEveryDatagramAndTimeAsTsharkReadsThem) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    WinsockSession winsock;
    Harness h;
    h.doc->m_engine.m_sAdapter = "127.0.0.1";
    h.doc->OnCaptureStart();
    ASSERT_TRUE(h.doc->m_engine.IsCapturing()) << (m_boxes.empty() ? "" : m_boxes[0]);
    testsupport::LoopbackSender sender;
    const testsupport::UdpFlow flow = sender.SendUdp(200, 100, 2000);
    ASSERT_EQ(flow.sent, 200);
    ASSERT_TRUE(PumpUntil([&] { return h.List().GetItemCount() >= 200; }));
    // Saving while the capture goes on saves what is there.
    const std::string path = m_folder.File("loopback.pcapng");
    ASSERT_TRUE(h.doc->OnSaveDocument(path.c_str()));
    EXPECT_TRUE(h.doc->m_engine.IsCapturing());
    h.doc->OnCaptureStop();

    const std::string fields = Output("tshark -r '" + path + "' -T fields -e frame.time_epoch -e frame.len 2>/dev/null");
    const std::string raw = Output("tshark -r '" + path + "' -T ek -x 2>/dev/null");
    std::istringstream lines(fields);
    std::string line;
    int i = 0;
    std::size_t at = 0;
    while (std::getline(lines, line)) {
        auto* packet = reinterpret_cast<Packet*>(h.List().GetItemData(i));
        ASSERT_NE(packet, nullptr) << i;
        const unsigned long long ns = (packet->GetArrivalTime() - 116444736000000000ULL) * 100ULL;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%llu.%09llu\t%d", ns / 1000000000ULL, ns % 1000000000ULL,
                      packet->GetReceived());
        EXPECT_EQ(line, expected) << i;
        std::string hex;
        for (int b = 0; b < packet->GetReceived(); ++b) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", packet->GetData()[b]);
            hex += two;
        }
        const std::size_t found = raw.find("\"frame_raw\":\"" + hex + "\"", at);
        EXPECT_NE(found, std::string::npos) << i;
        if (found != std::string::npos) at = found;
        ++i;
    }
    const std::vector<Row> rows = Rows(h);
    EXPECT_GE(i, 200);
    EXPECT_LE(static_cast<std::size_t>(i), rows.size());

    // Opened again: every row's eight texts, for the rows saved.
    ASSERT_TRUE(Open(h, path));
    const std::vector<Row> reopened = Rows(h);
    ASSERT_EQ(reopened.size(), static_cast<std::size_t>(i));
    for (std::size_t r = 0; r < reopened.size(); ++r) EXPECT_EQ(reopened[r], rows[r]) << r;
}

}  // namespace
