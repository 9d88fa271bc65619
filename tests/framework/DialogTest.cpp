// Dialogs from templates on real widgets: placement in dialog units, tab
// order and focus, the sorted drop-down list, OK/Cancel/Escape/close results,
// OK closing only after a successful data exchange; the message box seam.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "framework/AfxMessageBox.h"
#include "framework/CComboBox.h"
#include "framework/CDialog.h"
#include "tests/framework/TestResources.h"
#include "tests/support/qt/QtTestHelpers.h"

using namespace win;
using namespace fwtest;

namespace {

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(kDialogId) {}
    CComboBox m_combo;
    std::vector<std::string> m_items;
    bool m_failExchange = false;
    std::string m_selection;
    std::function<void(TestDialog&)> m_onInit;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, kComboId, m_combo);
        if (pDX->m_bSaveAndValidate && m_failExchange) pDX->Fail();
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        for (const std::string& s : m_items) m_combo.AddString(s);
        m_combo.SetCurSel(0);
        if (m_onInit) m_onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        if (int i = m_combo.GetCurSel(); i != CB_ERR) m_combo.GetLBText(i, m_selection);
        CDialog::OnOK();
    }
};

class DialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InstallTestResources(); }
};

TEST_F(DialogTest, ControlsArePlacedInDialogUnitsInTemplateOrder) {
    // Everything is read while the dialog runs: its widgets go with it.
    struct Control {
        std::string kind, text;
        QRect geometry;
        bool isDefault = false, tabStop = false, focused = false, nextIsFollowing = false;
    };
    std::vector<Control> controls;
    QSize size;
    TestDialog dlg;
    qvtest::WhenModal([&](QWidget* modal) {
        size = modal->size();
        std::vector<QWidget*> order;
        for (QObject* child : modal->children())
            if (auto* cw = qobject_cast<QWidget*>(child)) order.push_back(cw);
        for (size_t i = 0; i < order.size(); ++i) {
            QWidget* w = order[i];
            Control c;
            c.geometry = w->geometry();
            c.tabStop = w->focusPolicy() != Qt::NoFocus;
            c.focused = modal->focusWidget() == w;
            c.nextIsFollowing = i + 1 < order.size() && w->nextInFocusChain() == order[i + 1];
            if (auto* b = qobject_cast<QPushButton*>(w)) {
                c.kind = "button";
                c.text = b->text().toStdString();
                c.isDefault = b->isDefault();
            } else if (qobject_cast<QComboBox*>(w)) {
                c.kind = "combo";
            } else if (auto* l = qobject_cast<QLabel*>(w)) {
                c.kind = "static";
                c.text = l->text().toStdString();
            }
            controls.push_back(c);
        }
        static_cast<QDialog*>(modal)->reject();
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(controls.size(), 4u);
    EXPECT_EQ(controls[0].kind + ":" + controls[0].text, "static:Adapter:");
    EXPECT_EQ(controls[1].kind + ":" + controls[1].text, "button:OK");
    EXPECT_EQ(controls[2].kind + ":" + controls[2].text, "button:Cancel");
    EXPECT_EQ(controls[3].kind, "combo");
    EXPECT_TRUE(controls[1].isDefault);
    EXPECT_FALSE(controls[2].isDefault);
    // x * avg / 4 and y * h / 8: positions keep the template's proportions, within
    // what truncating each value to whole pixels allows.
    const double ux = controls[1].geometry.width() / 50.0;
    EXPECT_NEAR(controls[1].geometry.x(), 92 * ux, 3.0);
    EXPECT_NEAR(controls[2].geometry.x(), 149 * ux, 4.0);
    EXPECT_NEAR(controls[3].geometry.width(), 192 * ux, 5.0);
    EXPECT_NEAR(size.width(), 206 * ux, 5.0);
    const double uy = controls[1].geometry.height() / 14.0;
    EXPECT_NEAR(controls[1].geometry.y(), 41 * uy, 4.0);
    EXPECT_NEAR(controls[3].geometry.y(), 18 * uy, 2.5);
    EXPECT_LT(controls[3].geometry.height(), 130 * uy) << "the drop-down list's height is not the box's";
    EXPECT_FALSE(controls[0].tabStop);
    EXPECT_TRUE(controls[1].focused) << "OK is the first tab stop";
    EXPECT_TRUE(controls[1].nextIsFollowing);
    EXPECT_TRUE(controls[2].nextIsFollowing);
}

TEST_F(DialogTest, ComboBoxKeepsEntriesSortedAndOkReturnsSelection) {
    TestDialog dlg;
    dlg.m_items = {"192.168.1.10", "10.0.0.5", "127.0.0.1"};
    std::vector<int> positions;
    std::vector<std::string> texts;
    dlg.m_onInit = [&](TestDialog& d) {
        positions.push_back(d.m_combo.AddString("172.16.0.1"));
        for (int i = 0; i < d.m_combo.GetCount(); ++i) {
            std::string t;
            d.m_combo.GetLBText(i, t);
            texts.push_back(t);
        }
        d.m_combo.SetCurSel(2);
    };
    qvtest::WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(positions, std::vector<int>{2});
    EXPECT_EQ(texts, (std::vector<std::string>{"10.0.0.5", "127.0.0.1", "172.16.0.1", "192.168.1.10"}));
    EXPECT_EQ(dlg.m_selection, "172.16.0.1");
    EXPECT_EQ(dlg.m_combo.m_hWnd, nullptr) << "the control goes with the dialog";
}

TEST_F(DialogTest, EmptyComboHasNoSelection) {
    TestDialog dlg;
    int selection = 0;
    dlg.m_onInit = [&](TestDialog& d) { selection = d.m_combo.GetCurSel(); };
    qvtest::WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    dlg.DoModal();
    EXPECT_EQ(selection, CB_ERR);
}

TEST_F(DialogTest, CancelEscapeAndCloseGiveCancel) {
    const std::vector<std::function<void(QWidget*)>> ways = {
        [](QWidget* m) { m->findChildren<QPushButton*>()[1]->click(); },
        [](QWidget* m) { QTest::keyClick(m, Qt::Key_Escape); },
        [](QWidget* m) { m->close(); },
    };
    for (size_t i = 0; i < ways.size(); ++i) {
        TestDialog dlg;
        qvtest::WhenModal(ways[i]);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << i;
        EXPECT_EQ(dlg.m_hWnd, nullptr);
    }
}

TEST_F(DialogTest, OkClosesOnlyWhenDataExchangeSucceeds) {
    TestDialog dlg;
    dlg.m_failExchange = true;
    bool stillOpen = false;
    qvtest::WhenModal([&](QWidget* modal) {
        auto* ok = modal->findChildren<QPushButton*>()[0];
        ok->click();
        stillOpen = modal->isVisible();
        dlg.m_failExchange = false;
        ok->click();
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(stillOpen);
}

TEST_F(DialogTest, MissingTemplateFails) {
    CDialog dlg(999);
    EXPECT_EQ(dlg.DoModal(), -1);
}

TEST(MessageBoxTest, RecorderSeesTextsAndAnswersOk) {
    std::vector<std::string> texts;
    win::testing::SetMessageBoxRecorder(&texts);
    EXPECT_EQ(AfxMessageBox("WSAStartup() failed", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(AfxMessageBox(std::string("second")), IDOK);
    win::testing::SetMessageBoxRecorder(nullptr);
    EXPECT_EQ(texts, (std::vector<std::string>{"WSAStartup() failed", "second"}));
}

TEST(MessageBoxTest, ShownBoxHasTitleTextIconAndOk) {
    InstallTestResources();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    qvtest::WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(AfxMessageBox("Couldn't display packet window"), IDOK);
    EXPECT_EQ(title, "TestApp");
    EXPECT_EQ(text, "Couldn't display packet window");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

}  // namespace
