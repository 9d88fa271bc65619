// Tests of the rich-text control as a window (offscreen Qt, real widget): the
// read-only state, the default character format, insertion formats set with an
// empty selection, select-all plus clear, "\r\n" line breaks in both
// directions, per-character faces and colours, one large insertion, the view
// of a read-only control staying at the top, and the faces it resolves to.
#include "framework/CRichEditCtrl.h"

#include <QApplication>
#include <QFontInfo>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace win {
namespace {

CHARFORMAT DefaultFormat() {
    CHARFORMAT cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_PROTECTED | CFM_OFFSET | CFM_COLOR |
                CFM_SIZE | CFM_FACE;
    cf.dwEffects = CFE_AUTOCOLOR;
    cf.yHeight = 200;
    std::strcpy(cf.szFaceName, "Arial");
    return cf;
}

CHARFORMAT FaceFormat(const char* face) {
    CHARFORMAT cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_FACE;
    std::strcpy(cf.szFaceName, face);
    return cf;
}

CHARFORMAT ColorFormat(COLORREF color) {
    CHARFORMAT cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_COLOR;
    cf.crTextColor = color;
    return cf;
}

// The format of the character at position pos (0-based, line breaks count once).
QTextCharFormat FormatAt(QTextDocument* doc, int pos) {
    QTextCursor cursor(doc);
    cursor.setPosition(pos);
    cursor.setPosition(pos + 1, QTextCursor::KeepAnchor);
    return cursor.charFormat();
}

QString FaceAt(QTextDocument* doc, int pos) {
    const QStringList families = FormatAt(doc, pos).fontFamilies().toStringList();
    return families.isEmpty() ? QString() : families.front();
}

class CRichEditCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.CreateEx(0, "QvTestFrame", "Packet", WS_OVERLAPPEDWINDOW, 0, 0, 800, 480, nullptr, nullptr));
        ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL, CRect(0, 0, 780, 460), &frame, 1));
        edit.SetReadOnly(TRUE);
        CHARFORMAT cf = DefaultFormat();
        ASSERT_TRUE(edit.SetDefaultCharFormat(cf));
        frame.ShowWindow(SW_SHOW);
        QApplication::processEvents();
        doc = edit.GetDocument();
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override { frame.DestroyWindow(); }

    CWnd frame;
    CRichEditCtrl edit;
    QTextDocument* doc = nullptr;
};

TEST_F(CRichEditCtrlTest, ReadOnlyWithDefaultFormat) {
    auto* widget = qobject_cast<QPlainTextEdit*>(edit.GetWidget());
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->isReadOnly());
    // Read-only refuses the user's typing, not the program's insertions.
    edit.ReplaceSel("abc");
    EXPECT_EQ(edit.GetWindowText(), "abc");

    for (int pos = 0; pos < 3; ++pos) {
        const QTextCharFormat f = FormatAt(doc, pos);
        EXPECT_EQ(FaceAt(doc, pos), "Arial") << pos;
        EXPECT_DOUBLE_EQ(f.fontPointSize(), 10.0) << pos;
        EXPECT_EQ(f.foreground().style(), Qt::NoBrush) << pos;  // automatic colour
        EXPECT_NE(f.fontWeight(), QFont::Bold);
        EXPECT_FALSE(f.fontItalic());
        EXPECT_FALSE(f.fontUnderline());
        EXPECT_FALSE(f.fontStrikeOut());
        EXPECT_EQ(f.verticalAlignment(), QTextCharFormat::AlignNormal);
    }

    EXPECT_TRUE(edit.SetReadOnly(FALSE));
    EXPECT_FALSE(widget->isReadOnly());
}

// Face and colour set with an empty selection apply to the text inserted next,
// and stay in force until the next change; per-character formats read back.
TEST_F(CRichEditCtrlTest, InsertionFormatsApplyToNextText) {
    CHARFORMAT red = ColorFormat(RGB(255, 0, 0));
    CHARFORMAT blue = ColorFormat(RGB(0, 0, 200));
    CHARFORMAT courier = FaceFormat("Courier");
    CHARFORMAT arial = FaceFormat("Arial");

    ASSERT_TRUE(edit.SetSelectionCharFormat(red));
    edit.ReplaceSel("IP Header\r\n");  // 0..9, break at 9
    edit.SetSelectionCharFormat(blue);
    edit.ReplaceSel("Version: 4");  // 10..19
    edit.SetSelectionCharFormat(courier);
    edit.ReplaceSel("\r\n45 00");  // break at 20, 21..25
    edit.SetSelectionCharFormat(arial);
    edit.SetSelectionCharFormat(red);
    edit.ReplaceSel("!");  // 26

    ASSERT_EQ(edit.GetTextLength(), 27);
    struct Expect {
        int pos;
        const char* face;
        QColor color;
    };
    const Expect expects[] = {
        {0, "Arial", QColor(255, 0, 0)},    {8, "Arial", QColor(255, 0, 0)},   {10, "Arial", QColor(0, 0, 200)},
        {19, "Arial", QColor(0, 0, 200)},   {21, "Courier", QColor(0, 0, 200)}, {25, "Courier", QColor(0, 0, 200)},
        {26, "Arial", QColor(255, 0, 0)},
    };
    for (const Expect& e : expects) {
        EXPECT_EQ(FaceAt(doc, e.pos), e.face) << "position " << e.pos;
        EXPECT_EQ(FormatAt(doc, e.pos).foreground().color(), e.color) << "position " << e.pos;
        // Changing face or colour leaves the height alone.
        EXPECT_DOUBLE_EQ(FormatAt(doc, e.pos).fontPointSize(), 10.0) << "position " << e.pos;
    }
    EXPECT_EQ(edit.GetWindowText(), "IP Header\r\nVersion: 4\r\n45 00!");
}

TEST_F(CRichEditCtrlTest, LineBreaksAndTextRoundTrip) {
    const std::string text = "line one\r\nline two\r\n\r\nlast";
    edit.ReplaceSel(text.c_str());
    EXPECT_EQ(doc->blockCount(), 4);  // each "\r\n" is one break, no empty extra paragraphs
    EXPECT_EQ(doc->findBlockByNumber(1).text(), "line two");
    EXPECT_EQ(doc->findBlockByNumber(2).text(), "");
    EXPECT_EQ(edit.GetTextLength(), static_cast<long>(text.size()) - 3);
    EXPECT_EQ(edit.GetWindowText(), text);
    std::string out;
    edit.GetWindowText(out);
    EXPECT_EQ(out, text);
}

TEST_F(CRichEditCtrlTest, SelectAllAndClearEmpties) {
    CHARFORMAT green = ColorFormat(RGB(0, 128, 0));
    edit.SetSelectionCharFormat(green);
    edit.ReplaceSel("first refresh\r\nwith two lines");
    ASSERT_GT(edit.GetTextLength(), 0);

    edit.ExSetSel(CHARRANGE{0, -1});
    edit.Clear();
    EXPECT_EQ(edit.GetTextLength(), 0);
    EXPECT_EQ(edit.GetWindowText(), "");
    EXPECT_EQ(doc->blockCount(), 1);

    // A refresh after the clear starts at the top; the clear with nothing selected does nothing.
    edit.Clear();
    edit.ReplaceSel("second");
    EXPECT_EQ(edit.GetWindowText(), "second");

    // A partial selection: only it goes.
    edit.SetSel(1, 3);
    edit.Clear();
    EXPECT_EQ(edit.GetWindowText(), "sond");

    // The messages take the same paths.
    CHARRANGE all{0, -1};
    edit.SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    edit.SendMessage(WM_CLEAR, 0, 0);
    EXPECT_EQ(edit.GetTextLength(), 0);
    edit.SendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>("via message\r\n"));
    EXPECT_EQ(edit.GetWindowText(), "via message\r\n");
    EXPECT_EQ(edit.SendMessage(WM_GETTEXTLENGTH, 0, 0), 12);
}

// A dump of the largest datagram is one insertion of about 320,000 characters
// (its time is measured in the list benchmark).
TEST_F(CRichEditCtrlTest, LargeInsertionKeepsEveryLine) {
    std::string text;
    int lines = 0;
    while (text.size() < 320000) {
        char line[80];
        std::snprintf(line, sizeof line, "%06d  45 00 05 DC 12 34 40 00 40 11 00 00 7F 00 00 01\r\n", lines++);
        text += line;
    }
    CHARFORMAT courier = FaceFormat("Courier");
    edit.SetSelectionCharFormat(courier);
    edit.ReplaceSel(text.c_str());
    EXPECT_EQ(doc->blockCount(), lines + 1);  // the text ends in a break
    EXPECT_EQ(edit.GetTextLength(), static_cast<long>(text.size()) - lines);
    EXPECT_EQ(edit.GetWindowText(), text);
    EXPECT_EQ(FaceAt(doc, static_cast<int>(edit.GetTextLength()) - 2), "Courier");
}

// A read-only control has no caret for its view to follow: text filled in
// after a clear, in pieces as the detail window does, shows from the top, in
// a window shown before or after the filling; Ctrl+End and Ctrl+Home scroll.
TEST_F(CRichEditCtrlTest, ReadOnlyViewShowsTheTopAfterEachFilling) {
    auto* widget = static_cast<QPlainTextEdit*>(edit.GetWidget());
    QScrollBar* bar = widget->verticalScrollBar();
    auto fill = [this]() {
        CHARRANGE all{0, -1};
        edit.ExSetSel(all);
        edit.Clear();
        edit.ReplaceSel("IP Header\r\n");
        std::string dump;
        for (int i = 0; i < 400; ++i) dump += "00000000  45 00 05 DC 12 34 40 00  40 11 00 00 7F 00 00 01\t.....\r\n";
        edit.ReplaceSel(dump.c_str());
    };
    for (int round = 0; round < 2; ++round) {
        fill();
        QApplication::processEvents();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), 0) << "round " << round;
        bar->setValue(bar->maximum() / 2);  // the user scrolled; the next filling starts at the top again
    }
    QTest::keyClick(widget, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), bar->maximum());
    QTest::keyClick(widget, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0);

    // A window filled while hidden opens at the top too.
    CWnd hidden;
    ASSERT_TRUE(hidden.CreateEx(0, "QvTestFrame", "Packet", WS_OVERLAPPEDWINDOW, 0, 0, 600, 300, nullptr, nullptr));
    CRichEditCtrl text;
    ASSERT_TRUE(text.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL, CRect(0, 0, 580, 280), &hidden, 1));
    text.SetReadOnly(TRUE);
    std::string dump;
    for (int i = 0; i < 400; ++i) dump += "line\r\n";
    text.ReplaceSel(dump.c_str());
    hidden.ShowWindow(SW_SHOW);
    QApplication::processEvents();
    QApplication::processEvents();
    auto* hiddenEdit = static_cast<QPlainTextEdit*>(text.GetWidget());
    ASSERT_GT(hiddenEdit->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(hiddenEdit->verticalScrollBar()->value(), 0);
    hidden.DestroyWindow();
}

// The faces the detail window names resolve to the metric-compatible faces
// Debian installs, not to a fallback.
TEST_F(CRichEditCtrlTest, ArialAndCourierResolveToLiberationFaces) {
    CHARFORMAT courier = FaceFormat("Courier");
    edit.ReplaceSel("sans ");
    edit.SetSelectionCharFormat(courier);
    edit.ReplaceSel("mono");
    QFont sans = FormatAt(doc, 0).font();
    QFont mono = FormatAt(doc, 6).font();
    EXPECT_EQ(QFontInfo(sans).family(), "Liberation Sans");
    EXPECT_EQ(QFontInfo(mono).family(), "Liberation Mono");
}

TEST(CRichEditCtrlNoWindowTest, OperationsWithoutWindowFail) {
    CRichEditCtrl edit;
    CHARFORMAT cf = DefaultFormat();
    EXPECT_FALSE(edit.SetReadOnly(TRUE));
    EXPECT_FALSE(edit.SetDefaultCharFormat(cf));
    EXPECT_FALSE(edit.SetSelectionCharFormat(cf));
    edit.ReplaceSel("ignored");
    edit.Clear();
    EXPECT_EQ(edit.GetTextLength(), 0);
    EXPECT_EQ(edit.GetWindowText(), "");
    EXPECT_EQ(edit.GetDocument(), nullptr);
}

}  // namespace
}  // namespace win
