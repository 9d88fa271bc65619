// The adapter dialog driven live: sorted entries, the first preselected
// whatever the preset, OK returning and storing exactly the selected text
// (NUL counted, REG_SZ, missing parent keys created), Cancel and Escape
// storing nothing, and an empty list.
#include <QTest>

#include "document/CSelectAdapter.h"
#include "tests/document/DocumentTestSupport.h"

using namespace win;
using doctest::ModalWatcher;

namespace {

const std::vector<std::string> kUnsorted = {"192.168.1.20", "10.0.0.1", "172.16.5.4", "127.0.0.1"};
const std::vector<std::string> kSorted = {"10.0.0.1", "127.0.0.1", "172.16.5.4", "192.168.1.20"};

class CSelectAdapterTest : public doctest::DocumentFixture {};

struct ChoiceCase {
    const char* name;
    const char* preset;
    ModalWatcher::Answer answer;
    std::string expected;
};

TEST_F(CSelectAdapterTest, OkReturnsAndStoresExactlyTheSelectedEntry) {
    const ChoiceCase cases[] = {
        {"preselected, OK at once", "", ModalWatcher::PressOk(), "10.0.0.1"},
        {"Enter confirms the preselected entry", "",
         [](QDialog* dialog, QComboBox*) { QTest::keyClick(dialog, Qt::Key_Return); }, "10.0.0.1"},
        {"another entry chosen", "", ModalWatcher::Choose("172.16.5.4"), "172.16.5.4"},
        {"last entry chosen, preset ignored for the preselection", "172.16.5.4",
         ModalWatcher::Choose("192.168.1.20"), "192.168.1.20"},
        {"keyboard Down moves to the second entry", "",
         [](QDialog* dialog, QComboBox* combo) {
             QTest::keyClick(combo, Qt::Key_Down);
             ModalWatcher::ClickButton(dialog, "OK");
         },
         "127.0.0.1"},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        doctest::ScopedConfigHome config;  // a fresh store: the key does not exist yet
        ASSERT_FALSE(doctest::KeyExists("Software"));

        CSelectAdapter dlg;
        dlg.m_adapters = kUnsorted;
        dlg.m_sSelection = c.preset;
        ModalWatcher watcher(c.answer);
        EXPECT_EQ(dlg.DoModal(), IDOK);

        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        const ModalWatcher::Seen& seen = watcher.Dialogs()[0];
        EXPECT_EQ(seen.caption, "Select Adapter");
        EXPECT_EQ(seen.entries, kSorted);
        EXPECT_EQ(seen.selected, 0);

        EXPECT_EQ(dlg.m_sSelection, c.expected);
        const auto stored = doctest::ReadStored();
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->type, REG_SZ);
        EXPECT_EQ(stored->bytes, c.expected + std::string(1, '\0'));
        EXPECT_TRUE(doctest::KeyExists("Software"));
        EXPECT_TRUE(doctest::KeyExists("Software\\Tembrook"));
    }
}

TEST_F(CSelectAdapterTest, OkReplacesAnEarlierDefault) {
    doctest::StoreValue(REG_SZ, std::string("192.168.100.200\0", 16));
    CSelectAdapter dlg;
    dlg.m_adapters = kUnsorted;
    ModalWatcher watcher(ModalWatcher::Choose("10.0.0.1"));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    const auto stored = doctest::ReadStored();
    ASSERT_TRUE(stored.has_value());
    // A shorter text leaves nothing of the longer one behind.
    EXPECT_EQ(stored->bytes, std::string("10.0.0.1\0", 9));
}

TEST_F(CSelectAdapterTest, CancelStoresNothingAndKeepsThePreset) {
    struct CancelCase {
        const char* name;
        ModalWatcher::Answer answer;
        bool earlierValue;
    };
    const CancelCase cases[] = {
        {"Cancel button, nothing stored before", ModalWatcher::Cancel(), false},
        {"Cancel button after choosing, earlier value kept",
         [](QDialog* dialog, QComboBox* combo) {
             combo->setCurrentIndex(2);
             ModalWatcher::ClickButton(dialog, "Cancel");
         },
         true},
        {"Escape", [](QDialog* dialog, QComboBox*) { QTest::keyClick(dialog, Qt::Key_Escape); }, true},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(c.name);
        doctest::ScopedConfigHome config;
        if (c.earlierValue) doctest::StoreValue(REG_SZ, std::string("10.9.8.7\0", 9));

        CSelectAdapter dlg;
        dlg.m_adapters = kUnsorted;
        dlg.m_sSelection = "1.2.3.4";
        ModalWatcher watcher(c.answer);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_EQ(dlg.m_sSelection, "1.2.3.4");

        const auto stored = doctest::ReadStored();
        if (c.earlierValue) {
            ASSERT_TRUE(stored.has_value());
            EXPECT_EQ(stored->bytes, std::string("10.9.8.7\0", 9));
        } else {
            EXPECT_FALSE(stored.has_value());
            EXPECT_FALSE(doctest::KeyExists("Software"));
        }
    }
}

TEST_F(CSelectAdapterTest, EmptyListOkStoresNothingAndReturnsThePreset) {
    for (const char* preset : {"", "10.1.1.1"}) {
        SCOPED_TRACE(preset);
        doctest::ScopedConfigHome config;
        CSelectAdapter dlg;
        dlg.m_sSelection = preset;
        ModalWatcher watcher(ModalWatcher::PressOk());
        EXPECT_EQ(dlg.DoModal(), IDOK);
        ASSERT_EQ(watcher.Dialogs().size(), 1u);
        EXPECT_TRUE(watcher.Dialogs()[0].entries.empty());
        EXPECT_EQ(watcher.Dialogs()[0].selected, -1);
        EXPECT_EQ(dlg.m_sSelection, preset);
        EXPECT_FALSE(doctest::KeyExists("Software"));
    }
}

}  // namespace

TEST_F(CSelectAdapterTest, EntriesNameTheirInterfaceAndTheBareAddressIsReturnedAndStored) {
    CSelectAdapter dlg;
    dlg.m_adapters = kUnsorted;
    // 172.16.5.4 has no known name, 192.168.1.20 an empty one: both are shown alone.
    dlg.m_interfaceNames = {{"127.0.0.1", "lo"}, {"10.0.0.1", "eth0"}, {"192.168.1.20", ""}};
    ModalWatcher watcher(ModalWatcher::Choose("127.0.0.1 (lo)"));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ASSERT_EQ(watcher.Dialogs().size(), 1u);
    const std::vector<std::string> expected = {"10.0.0.1 (eth0)", "127.0.0.1 (lo)", "172.16.5.4", "192.168.1.20"};
    EXPECT_EQ(watcher.Dialogs()[0].entries, expected);
    EXPECT_EQ(watcher.Dialogs()[0].selected, 0);
    EXPECT_EQ(dlg.m_sSelection, "127.0.0.1");
    const auto stored = doctest::ReadStored();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->bytes, std::string("127.0.0.1\0", 10));
}

TEST_F(CSelectAdapterTest, NamesKeepTheOrderOfTheBareAddresses) {
    // "10.0.0.1" sorts before "10.0.0.10"; with names after them they still do.
    CSelectAdapter dlg;
    dlg.m_adapters = {"10.0.0.10", "10.0.0.1"};
    dlg.m_interfaceNames = {{"10.0.0.10", "a"}, {"10.0.0.1", "zz"}};
    ModalWatcher watcher(ModalWatcher::PressOk());
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ASSERT_EQ(watcher.Dialogs().size(), 1u);
    EXPECT_EQ(watcher.Dialogs()[0].entries, (std::vector<std::string>{"10.0.0.1 (zz)", "10.0.0.10 (a)"}));
    EXPECT_EQ(dlg.m_sSelection, "10.0.0.1");
}
