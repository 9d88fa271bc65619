// The capture filter dialog driven live: the expression in use shown in the
// field, a valid one returned compiled and stored as "Capture Filter", an
// invalid one refused with libpcap's own message while the dialog stays open
// and nothing changes, Cancel keeping the old expression, and an empty field
// meaning no filter.
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "document/CCaptureFilterDlg.h"
#include "tests/document/DocumentTestSupport.h"

using namespace win;
using doctest::ModalWatcher;

namespace {

std::optional<std::string> ReadFilterSetting() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, doctest::kKey, 0, KEY_READ, &key) != 0) return std::nullopt;
    std::string buffer(4096, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, "Capture Filter", nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (result != 0 || type != REG_SZ) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

QLineEdit* Field(QDialog* dialog) { return dialog->findChild<QLineEdit*>(); }

/// The texts of the dialog's labels, joined.
std::string Labels(QDialog* dialog) {
    std::string all;
    for (QLabel* label : dialog->findChildren<QLabel*>()) all += label->text().toStdString() + "|";
    return all;
}

/// Replaces the field's text with keys typed into it, then presses Enter.
ModalWatcher::Answer TypeAndEnter(const std::string& expression) {
    return [expression](QDialog* dialog, QComboBox*) {
        QLineEdit* field = Field(dialog);
        ASSERT_NE(field, nullptr);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, QString::fromStdString(expression));
        QTest::keyClick(field, Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();
    };
}

class CCaptureFilterDlgTest : public doctest::DocumentFixture {};

TEST_F(CCaptureFilterDlgTest, AValidExpressionIsReturnedCompiledAndStored) {
    doctest::ScopedConfigHome config;
    CCaptureFilterDlg dlg;
    dlg.m_sFilter = "tcp";
    std::string shown;
    ModalWatcher watcher([&](QDialog* dialog, QComboBox* combo) {
        shown = Field(dialog)->text().toStdString();
        // The field has the focus, so typing goes straight into it.
        EXPECT_EQ(dialog->focusWidget(), Field(dialog));
        TypeAndEnter("udp port 53 or icmp")(dialog, combo);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ASSERT_EQ(watcher.Dialogs().size(), 1u);
    EXPECT_EQ(watcher.Dialogs()[0].caption, "Capture Filter");
    EXPECT_EQ(shown, "tcp");
    EXPECT_EQ(dlg.m_sFilter, "udp port 53 or icmp");
    EXPECT_EQ(dlg.m_filter.GetExpression(), "udp port 53 or icmp");
    EXPECT_FALSE(dlg.m_filter.IsEmpty());
    EXPECT_EQ(ReadFilterSetting(), std::string("udp port 53 or icmp\0", 20));
}

TEST_F(CCaptureFilterDlgTest, AnInvalidExpressionShowsLibpcapsMessageAndKeepsTheOldOne) {
    const char* const invalid[] = {"udp port", "host 300.1.2.3", "tcp and and", "portrange 9-"};
    for (const char* expression : invalid) {
        SCOPED_TRACE(expression);
        doctest::ScopedConfigHome config;
        PacketFilter reference;
        std::string libpcapMessage;
        ASSERT_FALSE(reference.Compile(expression, libpcapMessage));
        ASSERT_FALSE(libpcapMessage.empty());

        CCaptureFilterDlg dlg;
        dlg.m_sFilter = "icmp";
        bool stayedOpen = false;
        std::string labels;
        ModalWatcher watcher([&](QDialog* dialog, QComboBox*) {
            QLineEdit* field = Field(dialog);
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Delete);
            QTest::keyClicks(field, expression);
            QTest::keyClick(field, Qt::Key_Return);
            stayedOpen = dialog->isVisible();
            labels = Labels(dialog);
            dialog->reject();  // Escape
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(stayedOpen);
        EXPECT_NE(labels.find(libpcapMessage), std::string::npos) << labels;
        EXPECT_EQ(dlg.m_sFilter, "icmp");
        EXPECT_FALSE(ReadFilterSetting().has_value());
    }
}

TEST_F(CCaptureFilterDlgTest, AFixedExpressionAfterARefusalIsTaken) {
    doctest::ScopedConfigHome config;
    CCaptureFilterDlg dlg;
    ModalWatcher watcher([&](QDialog* dialog, QComboBox* combo) {
        QTest::keyClicks(Field(dialog), "udp port");
        QTest::keyClick(Field(dialog), Qt::Key_Return);
        ASSERT_TRUE(dialog->isVisible());
        TypeAndEnter("udp port 9")(dialog, combo);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_sFilter, "udp port 9");
    EXPECT_EQ(ReadFilterSetting(), std::string("udp port 9\0", 11));
}

TEST_F(CCaptureFilterDlgTest, AnEmptyFieldMeansNoFilter) {
    doctest::ScopedConfigHome config;
    CCaptureFilterDlg dlg;
    dlg.m_sFilter = "tcp port 80";
    ModalWatcher watcher(TypeAndEnter(""));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_sFilter, "");
    EXPECT_TRUE(dlg.m_filter.IsEmpty());
    EXPECT_EQ(ReadFilterSetting(), std::string("\0", 1));
}

TEST_F(CCaptureFilterDlgTest, CancelKeepsTheExpressionAndStoresNothing) {
    doctest::ScopedConfigHome config;
    CCaptureFilterDlg dlg;
    dlg.m_sFilter = "tcp port 80";
    ModalWatcher watcher([](QDialog* dialog, QComboBox*) {
        QTest::keyClicks(Field(dialog), " and host 10.0.0.1");
        ModalWatcher::ClickButton(dialog, "Cancel");
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_sFilter, "tcp port 80");
    EXPECT_FALSE(ReadFilterSetting().has_value());
}

}  // namespace
