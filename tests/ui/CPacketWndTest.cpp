// The detail window on real widgets and real records: the text for TCP, UDP,
// ICMP and IGMP records, the worked example with its faces and colours read
// per character from the control, the dump bound by the bytes received,
// refreshing, resizing and the window's own geometry; every text colour's
// contrast against the ground it is painted on, and selecting and copying.
#include "ui/CPacketWnd.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/FontScale.h"
#include "framework/WinUser.h"
#include "packet/IPPacket.h"
#include "tests/packet/DatagramBuilder.h"
#include "tests/support/qt/QtTestHelpers.h"
#include "ui/PacketDump.h"

using namespace win;
using testdata::Bytes;

namespace {

const Bytes kWorkedExample = {0x45, 0x00, 0x00, 0x28, 0x12, 0x34, 0x40, 0x00, 0x80, 0x06, 0x00, 0x00, 0xC0, 0xA8,
                              0x01, 0x0A, 0xC0, 0xA8, 0x01, 0x01, 0x04, 0xD2, 0x00, 0x50, 0x00, 0x00, 0x00, 0x01,
                              0x00, 0x00, 0x00, 0x00, 0x50, 0x02, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};

std::unique_ptr<IPPacket> Record(const Bytes& bytes) {
    auto packet = std::make_unique<IPPacket>();
    testdata::Receive(*packet, bytes);
    return packet;
}

// One character of the control with the format it is shown in.
struct Shown {
    QChar ch;
    QString face;
    QRgb color;  // 0 with the automatic colour
    qreal points;
};

std::vector<Shown> ReadFormats(CRichEditCtrl& edit) {
    std::vector<Shown> out;
    QTextDocument* doc = edit.GetDocument();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat f = fragment.charFormat();
            const QStringList families = f.fontFamilies().toStringList();
            const QString face = families.isEmpty() ? QString() : families.first();
            const QRgb color = f.foreground().style() == Qt::NoBrush ? 0 : f.foreground().color().rgb() & 0xFFFFFF;
            for (QChar c : fragment.text()) out.push_back({c, face, color, f.fontPointSize()});
        }
    }
    return out;
}

QRgb Qt(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF).rgb() & 0xFFFFFF; }

// A text with the face and colour it must be shown in.
struct Span {
    std::string text;
    const char* face;
    COLORREF color;
};

void ExpectFormats(CRichEditCtrl& edit, const std::vector<Span>& spans) {
    const std::vector<Shown> shown = ReadFormats(edit);
    std::size_t at = 0;
    for (const Span& span : spans) {
        for (char c : span.text) {
            if (c == '\r' || c == '\n') continue;  // line breaks are block separators, not characters
            ASSERT_LT(at, shown.size()) << "text ends before \"" << span.text << "\"";
            const Shown& s = shown[at++];
            ASSERT_EQ(s.ch, QChar(c)) << "at character " << at - 1 << " of \"" << span.text << "\"";
            EXPECT_EQ(s.face.toStdString(), span.face) << "face of \"" << span.text << "\"";
            EXPECT_EQ(s.color, Qt(span.color)) << "colour of \"" << span.text << "\"";
            EXPECT_EQ(s.points, 10.0) << "height of \"" << span.text << "\"";
        }
    }
    EXPECT_EQ(at, shown.size()) << "more text than expected";
}

class CPacketWndTest : public ::testing::Test {
protected:
    /// A size given in pixels of the 8-point font, as the window takes it:
    /// converted to its font, within the available area less a window frame.
    QSize PartSize(int cx, int cy) {
        QWidget* w = wnd.GetWidget();
        const QRect area = w->screen()->availableGeometry().marginsRemoved(QMargins(4, 30, 4, 4));
        return QSize(std::min(FontScale::Width(cx, w->font()), area.width()),
                     std::min(FontScale::Height(cy, w->font()), area.height()));
    }
    // Creates the window as the list view does, showing m_pPacket at once.
    void Open(Packet* packet) {
        wnd.m_pPacket = packet;
        const CRect rect(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
        ASSERT_TRUE(wnd.CreateEx(0, AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW)), "Packet", 0x10CF0000,
                                 rect, nullptr, 0));
        qvtest::PumpEvents();
    }
    std::string Text() { return wnd.m_wndText.GetWindowText(); }

    CPacketWnd wnd;
};

const std::string kWorkedHeader =
    "IP Header\r\n"
    "Source Address: 192.168.1.10\r\n"
    "Destination Address: 192.168.1.1\r\n"
    "\r\n"
    "TCP Header\r\n"
    "TCP Source Port: 1234\r\n"
    "TCP Destination Port: 80\r\n"
    "\r\n"
    "Raw Bytes:\r\n";

const std::string kWorkedDump =
    "\t\r\n"
    "00000000  45 00 00 28 12 34 40 00  80 06 00 00 C0 A8 01 0A \tE..(.4@.........\r\n"
    "00000010  C0 A8 01 01 04 D2 00 50  00 00 00 01 00 00 00 00 \t.......P........\r\n"
    "00000020  50 02 20 00 00 00 00 00                          \tP. .....";

std::vector<Span> WorkedSpans() {
    const COLORREF h = CPacketWnd::kHeadingColor, l = CPacketWnd::kLabelColor, v = CPacketWnd::kValueColor;
    return {{"IP Header", "Arial", h},
            {"Source Address: ", "Arial", l},
            {"192.168.1.10", "Arial", v},
            {"Destination Address: ", "Arial", l},
            {"192.168.1.1", "Arial", v},
            {"TCP Header", "Arial", h},
            {"TCP Source Port: ", "Arial", l},
            {"1234", "Arial", v},
            {"TCP Destination Port: ", "Arial", l},
            {"80", "Arial", v},
            {"Raw Bytes:", "Arial", h},
            {kWorkedDump, "Courier", l}};
}

TEST_F(CPacketWndTest, WorkedExampleTextFacesAndColours) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    EXPECT_EQ(Text(), kWorkedHeader + kWorkedDump);
    ExpectFormats(wnd.m_wndText, WorkedSpans());
}

TEST_F(CPacketWndTest, WindowAndControlGeometryAndStyle) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    EXPECT_EQ(wnd.GetWindowText(), "Packet");
    CRect client;
    wnd.GetClientRect(&client);
    const QSize size = PartSize(800, 480);
    EXPECT_EQ(client.Width(), size.width());
    EXPECT_EQ(client.Height(), size.height());
    EXPECT_EQ(wnd.m_wndText.GetWidget()->geometry(), QRect(QPoint(0, 0), size));
    EXPECT_EQ(wnd.m_wndText.GetStyle(), 0x503010C4u);
    EXPECT_TRUE(wnd.IsWindowVisible());

    // Read-only: typing into the control changes nothing.
    const std::string before = Text();
    qvtest::SendKeys(wnd.m_wndText.GetWidget(), QKeySequence("x"));
    EXPECT_EQ(Text(), before);
}

TEST_F(CPacketWndTest, ResizingKeepsTheControlOverTheClientArea) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    const std::string before = Text();
    for (auto [cx, cy] : {std::pair{640, 300}, std::pair{1024, 700}, std::pair{120, 90}}) {
        wnd.SetWindowPos(nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
        qvtest::PumpEvents();
        EXPECT_EQ(wnd.m_wndText.GetWidget()->geometry(), QRect(QPoint(0, 0), PartSize(cx, cy))) << cx << "x" << cy;
    }
    EXPECT_EQ(Text(), before);
}

TEST_F(CPacketWndTest, OtherProtocolsShowNoPortLines) {
    struct Case {
        const char* name;
        int protocol;
        const char* heading;
        Bytes transport;
    };
    const Case cases[] = {
        {"UDP", 17, "UDP Header", {0x04, 0xD2, 0x00, 0x35, 0x00, 0x0C, 0x00, 0x00, 0x61, 0x62, 0x63, 0x64}},
        {"ICMP", 1, "ICMP Header", {0x08, 0x00, 0xF7, 0xFF, 0x00, 0x00, 0x00, 0x00}},
        {"IGMP", 2, "IGMP Header", {0x16, 0x00, 0xFA, 0x04, 0xE0, 0x00, 0x00, 0xFB}},
        {"unnamed number", 150, "Unknown (150) Header", {0x01, 0x02}},
    };
    Open(nullptr);
    for (const Case& c : cases) {
        Bytes bytes = testdata::Datagram(5, c.protocol, 0x0A000001, 0xE00000FB, 0, {});
        bytes.insert(bytes.end(), c.transport.begin(), c.transport.end());
        bytes[3] = static_cast<std::uint8_t>(bytes.size());
        auto packet = Record(bytes);
        wnd.m_pPacket = packet.get();
        wnd.Refresh();
        std::string dump;
        PacketDump::Build(bytes.data(), static_cast<int>(bytes.size()), dump);
        EXPECT_EQ(Text(), "IP Header\r\nSource Address: 10.0.0.1\r\nDestination Address: 224.0.0.251\r\n\r\n" +
                              std::string(c.heading) + "\r\n\r\nRaw Bytes:\r\n" + dump)
            << c.name;
        const COLORREF h = CPacketWnd::kHeadingColor, l = CPacketWnd::kLabelColor, v = CPacketWnd::kValueColor;
        ExpectFormats(wnd.m_wndText, {{"IP Header", "Arial", h},
                                      {"Source Address: ", "Arial", l},
                                      {"10.0.0.1", "Arial", v},
                                      {"Destination Address: ", "Arial", l},
                                      {"224.0.0.251", "Arial", v},
                                      {c.heading, "Arial", h},
                                      {"Raw Bytes:", "Arial", h},
                                      {dump, "Courier", l}});
        wnd.m_pPacket = nullptr;
    }
}

TEST_F(CPacketWndTest, TcpPortsAreUnsignedDecimal) {
    const Bytes bytes = testdata::Concat(testdata::Datagram(5, 6, 0x7F000001, 0x7F000001, 40, {}),
                                         testdata::TcpHeader(65535, 32768, 0x12));
    auto packet = Record(bytes);
    Open(packet.get());
    EXPECT_NE(Text().find("TCP Source Port: 65535\r\nTCP Destination Port: 32768\r\n\r\nRaw Bytes:"),
              std::string::npos);
}

TEST_F(CPacketWndTest, DumpStopsAtTheBytesReceived) {
    struct Case {
        const char* name;
        int totalLength;  // as the header states it
        int received;
        int dumped;
    };
    const Case cases[] = {
        {"header claims more than arrived", 1500, 28, 28},
        {"largest claim, header only", 65535, 20, 20},
        {"more arrived than the header claims", 24, 40, 24},
        {"total length zero", 0, 20, 0},
    };
    Open(nullptr);
    for (const Case& c : cases) {
        Bytes bytes = testdata::Datagram(5, 17, 0x0A000001, 0x0A000002, c.totalLength, {});
        bytes.resize(c.received, 0xEE);
        auto packet = Record(bytes);
        wnd.m_pPacket = packet.get();
        wnd.Refresh();
        std::string dump;
        PacketDump::Build(bytes.data(), c.dumped, dump);
        const std::string text = Text();
        const std::string marker = "Raw Bytes:\r\n";
        ASSERT_NE(text.find(marker), std::string::npos) << c.name;
        EXPECT_EQ(text.substr(text.find(marker) + marker.size()), dump) << c.name;
        wnd.m_pPacket = nullptr;
    }
}

TEST_F(CPacketWndTest, LargestDatagramDumpsEveryByte) {
    Bytes bytes = testdata::Datagram(5, 17, 0x0A000001, 0x0A000002, 65535, {});
    bytes.resize(65535, 0x41);
    auto packet = Record(bytes);
    Open(packet.get());
    std::string dump;
    PacketDump::Build(bytes.data(), 65535, dump);
    const std::string text = Text();
    EXPECT_EQ(text, "IP Header\r\nSource Address: 10.0.0.1\r\nDestination Address: 10.0.0.2\r\n\r\nUDP Header\r\n"
                    "\r\nRaw Bytes:\r\n" + dump);
    EXPECT_TRUE(text.ends_with("\r\n0000FFF0  41 41 41 41 41 41 41 41  41 41 41 41 41 41 41 " + std::string(3, ' ') +
                               "\tAAAAAAAAAAAAAAA"));
}

TEST_F(CPacketWndTest, RefreshingTwiceGivesTheSameTextAndFormats) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    wnd.Refresh();
    wnd.Refresh();
    EXPECT_EQ(Text(), kWorkedHeader + kWorkedDump);
    ExpectFormats(wnd.m_wndText, WorkedSpans());
}

TEST_F(CPacketWndTest, SwitchingRecordsReplacesTheWholeText) {
    auto tcp = Record(kWorkedExample);
    Bytes udpBytes = testdata::Datagram(5, 17, 0x0A000001, 0x0A000002, 28, {0, 1, 0, 2, 0, 8, 0, 0});
    auto udp = Record(udpBytes);
    Open(udp.get());
    wnd.m_pPacket = tcp.get();
    wnd.Refresh();
    EXPECT_EQ(Text(), kWorkedHeader + kWorkedDump);
    ExpectFormats(wnd.m_wndText, WorkedSpans());
}

TEST_F(CPacketWndTest, NullRecordGivesAnEmptyWindow) {
    auto packet = Record(kWorkedExample);
    Open(nullptr);
    EXPECT_EQ(Text(), "");
    wnd.m_pPacket = packet.get();
    wnd.Refresh();
    EXPECT_FALSE(Text().empty());
    wnd.m_pPacket = nullptr;
    wnd.Refresh();
    EXPECT_EQ(Text(), "");
}

TEST_F(CPacketWndTest, ClosingLeavesTheObjectReadyForANewWindow) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    HWND first = wnd.m_hWnd;
    wnd.SendMessage(WM_CLOSE);
    qvtest::PumpEvents();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(wnd.m_pPacket, packet.get());
    Open(packet.get());
    EXPECT_TRUE(IsWindow(wnd.m_hWnd));
    EXPECT_EQ(Text(), kWorkedHeader + kWorkedDump);
}

}  // namespace

namespace {

// WCAG 2 relative luminance and contrast ratio.
double Luminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

TEST_F(CPacketWndTest, EveryTextColourReachesFourAndAHalfToOneAgainstItsGround) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    auto* edit = qobject_cast<QPlainTextEdit*>(wnd.m_wndText.GetWidget());
    ASSERT_NE(edit, nullptr);
    // What the control paints its text on, and the text colour of text without one of its own.
    const QColor ground = edit->viewport()->palette().color(QPalette::Base);
    const QColor automatic = edit->viewport()->palette().color(QPalette::Text);
    std::map<QRgb, int> shown;  // each colour and how many characters it shows
    for (const Shown& s : ReadFormats(wnd.m_wndText))
        if (!s.ch.isSpace()) ++shown[s.color == 0 ? automatic.rgb() & 0xFFFFFF : s.color];
    ASSERT_EQ(shown.size(), 3u) << "heading, label and value colours";
    for (const auto& [rgb, count] : shown) {
        const QColor color(rgb);
        EXPECT_GE(Contrast(color, ground), 4.5)
            << color.name().toStdString() << " on " << ground.name().toStdString() << " (" << count << " characters)";
    }
}

TEST_F(CPacketWndTest, TextCanBeSelectedAndCopied) {
    auto packet = Record(kWorkedExample);
    Open(packet.get());
    auto* edit = qobject_cast<QPlainTextEdit*>(wnd.m_wndText.GetWidget());
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(edit->isReadOnly());
    QGuiApplication::clipboard()->setText("sentinel");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    std::string copied = QGuiApplication::clipboard()->text().toStdString();
    // The clipboard holds the lines with line feeds, as text copied on Linux does.
    std::string expected = kWorkedHeader + kWorkedDump;
    for (std::size_t at = 0; (at = expected.find("\r\n", at)) != std::string::npos;) expected.erase(at, 1);
    EXPECT_EQ(copied, expected);
    // Still read-only: typing changed nothing.
    QTest::keyClicks(edit, "x");
    EXPECT_EQ(Text(), kWorkedHeader + kWorkedDump);
}
