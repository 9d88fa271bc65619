// Checks the program's resource tables against the command set: menu items in
// order with ids and separators, the key table, the toolbar buttons, every
// string, both dialog templates, the version block and the manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/ProgramResources.h"
#include "app/Resource.h"

using namespace win;

namespace {

const MenuResource& MainMenu() {
    auto menus = ProgramMenus();
    auto it = std::find_if(menus.begin(), menus.end(), [](const MenuResource& m) { return m.id == IDR_MAINFRAME; });
    EXPECT_NE(it, menus.end());
    return *it;
}

// The menu flattened to "Popup|item text|id" lines, separators as "Popup|-".
// Parsing follows the record rules: a popup entry opens a popup, MF_END closes it.
std::vector<std::string> FlattenMenu(const MenuResource& menu) {
    std::vector<std::string> lines;
    std::string popup;
    bool open = false;
    for (const MenuItemResource& item : menu.items) {
        if (item.flags & MF_POPUP) {
            EXPECT_FALSE(open) << "nested popup " << item.text;
            popup = item.text;
            open = true;
            lines.push_back(popup);
            continue;
        }
        EXPECT_TRUE(open) << "item outside a popup";
        if (item.flags & MF_SEPARATOR)
            lines.push_back(popup + "|-");
        else
            lines.push_back(popup + "|" + item.text + "|" + std::to_string(item.id));
        if (item.flags & MF_END) open = false;
    }
    EXPECT_FALSE(open) << "last popup not closed";
    return lines;
}

std::map<UINT, std::string> Strings() {
    std::map<UINT, std::string> map;
    for (const StringResource& s : ProgramStrings()) {
        EXPECT_TRUE(map.emplace(s.id, s.text).second) << "duplicate string " << s.id;
    }
    return map;
}

}  // namespace

TEST(MenuResource, MatchesTheCommandSetItemForItem) {
    const std::vector<std::string> expected = {
        "&File",
        "&File|&New\tCtrl+N|57600",
        "&File|&Open...\tCtrl+O|57601",
        "&File|&Save\tCtrl+S|57603",
        "&File|Save &As...|57604",
        "&File|-",
        "&File|&Print...\tCtrl+P|57607",
        "&File|Print Pre&view|57609",
        "&File|P&rint Setup...|57606",
        "&File|-",
        "&File|E&xit|57665",
        "&Capture",
        "&Capture|&Start|32771",
        "&Capture|S&top|32772",
        "&Capture|&Clear|32773",
        "&Capture|-",
        "&Capture|Select Adapter...|32774",
        "&Capture|Capture Filter...|32776",
        "&Capture|Resolve IP Addresses|32775",
        "&Edit",
        "&Edit|&Undo\tCtrl+Z|57643",
        "&Edit|-",
        "&Edit|Cu&t\tCtrl+X|57635",
        "&Edit|&Copy\tCtrl+C|57634",
        "&Edit|&Paste\tCtrl+V|57637",
        "&View",
        "&View|&Toolbar|59392",
        "&View|&Status Bar|59393",
        "&View|-",
        "&View|&Follow New Packets|32778",
        "&Help",
        "&Help|&About Quorvane...|57664",
    };
    EXPECT_EQ(FlattenMenu(MainMenu()), expected);
}

TEST(MenuResource, AdapterAndResolverItemsHaveNoMnemonicAndNoItemHasState) {
    for (const MenuItemResource& item : MainMenu().items) {
        EXPECT_EQ(item.flags & ~(MF_POPUP | MF_SEPARATOR | MF_END), 0u) << "state flags on " << item.id;
        if (item.id == ID_CAPTURE_SELECTADAPTER || item.id == ID_CAPTURE_FILTER ||
            item.id == ID_CAPTURE_RESOLVEADDRESSES) {
            EXPECT_EQ(std::string(item.text).find('&'), std::string::npos) << item.text;
        }
    }
}

TEST(AcceleratorResource, FifteenEntriesInOrderAllVirtualKeys) {
    struct Key {
        BYTE flags;
        WORD key;
        WORD command;
        bool operator==(const Key&) const = default;
    };
    const std::vector<Key> expected = {
        {FVIRTKEY | FCONTROL, 'N', 57600}, {FVIRTKEY | FCONTROL, 'O', 57601},  {FVIRTKEY | FCONTROL, 'S', 57603},
        {FVIRTKEY | FCONTROL, 'P', 57607}, {FVIRTKEY | FCONTROL, 'Z', 57643},  {FVIRTKEY | FCONTROL, 'X', 57635},
        {FVIRTKEY | FCONTROL, 'C', 57634}, {FVIRTKEY | FCONTROL, 'V', 57637},  {FVIRTKEY | FALT, VK_BACK, 57643},
        {FVIRTKEY | FSHIFT, VK_DELETE, 57635}, {FVIRTKEY | FCONTROL, VK_INSERT, 57634},
        {FVIRTKEY | FSHIFT, VK_INSERT, 57637}, {FVIRTKEY, VK_F6, 57680}, {FVIRTKEY | FSHIFT, VK_F6, 57681},
        {FVIRTKEY | FCONTROL, 'F', 32779},
        {FVIRTKEY, VK_ESCAPE, 32790},
    };
    auto tables = ProgramAccelerators();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].id, IDR_MAINFRAME);
    std::vector<Key> actual;
    for (const AcceleratorEntry& e : tables[0].entries) actual.push_back({e.flags, e.key, e.command});
    EXPECT_EQ(actual, expected);
}

TEST(AcceleratorResource, CaptureCommandsHaveNoKeys) {
    for (const AcceleratorEntry& e : ProgramAccelerators()[0].entries) {
        EXPECT_FALSE(e.command >= ID_CAPTURE_START && e.command <= ID_CAPTURE_FILTER) << e.command;
    }
}

TEST(ToolbarResource, FifteenEntriesElevenButtons) {
    auto toolbars = ProgramToolbars();
    ASSERT_EQ(toolbars.size(), 1u);
    const ToolbarResource& bar = toolbars[0];
    EXPECT_EQ(bar.id, IDR_MAINFRAME);
    EXPECT_EQ(bar.imageWidth, 16);
    EXPECT_EQ(bar.imageHeight, 15);
    const std::vector<UINT> expected = {32771, 32772, 32773, 0, 57600, 57601, 57603, 0,
                                        57635, 57634, 57637, 0, 57607, 0,     57664};
    EXPECT_EQ(std::vector<UINT>(bar.items.begin(), bar.items.end()), expected);
    const std::set<UINT> buttons(bar.items.begin(), bar.items.end());
    for (UINT none : {ID_CAPTURE_SELECTADAPTER, ID_CAPTURE_RESOLVEADDRESSES, ID_FILE_SAVE_AS, ID_FILE_PRINT_PREVIEW,
                      ID_FILE_PRINT_SETUP, ID_APP_EXIT, ID_EDIT_UNDO, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR})
        EXPECT_EQ(buttons.count(none), 0u) << none;
    auto bitmaps = ProgramBitmaps();
    ASSERT_EQ(bitmaps.size(), 1u);
    EXPECT_EQ(bitmaps[0].id, IDR_MAINFRAME);
}

TEST(StringTable, HoldsEveryStringExactly) {
    std::map<UINT, std::string> expected = {
        {128, "Quorvane\n\nPacket\nCapture files (*.pcapng *.pcap *.cap)\n.pcapng\nCorvel.Document\nPacket Capture File"},
        {129, "Software\\Tembrook\\Quorvane"},
        {32771, "Start capturing packets\nStart Capture"},
        {32772, "Stop capturing packets\nStop Capture"},
        {32773, "Clear the capture window\nClear"},
        {32774, "Select the adapter to bind to\nSelect Adapter"},
        {32775, "Resolve IP Addresses on the fly.\nResolve IP Addresses"},
        {32776, "Choose which packets a capture keeps\nCapture Filter"},
        {32778, "Keep the newest packet in view as packets arrive\nFollow New Packets"},
        {32779, "Type a display filter\nDisplay Filter"},
        {32780, "Show only the packets that match the display filter\nApply Display Filter"},
        {32790, "Stop reading the capture file, keeping the rows read\nStop Reading"},
        {57344, "Quorvane"},
        {57345, "Ready"},
        {57600, "Create a new document\nNew"},
        {57601, "Open an existing document\nOpen"},
        {57602, "Close the active document\nClose"},
        {57603, "Save the active document\nSave"},
        {57604, "Save the active document with a new name\nSave As"},
        {57605, "Change the printing options\nPage Setup"},
        {57606, "Change the printer and printing options\nPrint Setup"},
        {57607, "Print the active document\nPrint"},
        {57609, "Display full pages\nPrint Preview"},
        {57632, "Erase the selection\nErase"},
        {57633, "Erase everything\nErase All"},
        {57634, "Copy the selection and put it on the Clipboard\nCopy"},
        {57635, "Cut the selection and put it on the Clipboard\nCut"},
        {57636, "Find the specified text\nFind"},
        {57637, "Insert Clipboard contents\nPaste"},
        {57640, "Repeat the last action\nRepeat"},
        {57641, "Replace specific text with different text\nReplace"},
        {57642, "Select the entire document\nSelect All"},
        {57643, "Undo the last action\nUndo"},
        {57644, "Redo the previously undone action\nRedo"},
        {57653, "Split the active window into panes\nSplit"},
        {57664, "Display program information, version number and copyright\nAbout"},
        {57665, "Quit the application; prompts to save documents\nExit"},
        {57680, "Switch to the next window pane\nNext Pane"},
        {57681, "Switch back to the previous window pane\nPrevious Pane"},
        {59136, "EXT"},
        {59137, "CAP"},
        {59138, "NUM"},
        {59139, "SCRL"},
        {59140, "OVR"},
        {59141, "REC"},
        {59392, "Show or hide the toolbar\nToggle ToolBar"},
        {59393, "Show or hide the status bar\nToggle StatusBar"},
        {61184, "Change the window size"},
        {61185, "Change the window position"},
        {61186, "Reduce the window to an icon"},
        {61187, "Enlarge the window to full size"},
        {61188, "Switch to the next document window"},
        {61189, "Switch to the previous document window"},
        {61190, "Close the active window and prompts to save the documents"},
        {61202, "Restore the window to normal size"},
        {61203, "Activate Task List"},
        {61443, "Untitiled"},
    };
    for (UINT id = 57616; id <= 57631; ++id) expected[id] = "Open this document";
    const auto actual = Strings();
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(actual.count(ID_FILE_PRINT_DIRECT), 0u);
}

TEST(StringTable, EveryMenuItemAndButtonHasAPromptAndTooltip) {
    const auto strings = Strings();
    std::set<UINT> ids(ProgramToolbars()[0].items.begin(), ProgramToolbars()[0].items.end());
    ids.erase(0);
    for (const MenuItemResource& item : MainMenu().items)
        if (item.id != 0) ids.insert(item.id);
    for (UINT id : ids) {
        auto it = strings.find(id);
        ASSERT_NE(it, strings.end()) << id;
        const auto nl = it->second.find('\n');
        ASSERT_NE(nl, std::string::npos) << id;
        EXPECT_GT(nl, 0u) << id;
        EXPECT_LT(nl + 1, it->second.size()) << id;
    }
}

TEST(DialogResource, TemplatesMatchControlForControl) {
    struct Control {
        std::string windowClass;
        int id;
        std::string text;
        DWORD style;
        short x, y, cx, cy;
        bool operator==(const Control&) const = default;
    };
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    struct Case {
        UINT id;
        const char* caption;
        short cx, cy;
        std::vector<Control> controls;
    };
    const Case cases[] = {
        {IDD_ABOUTBOX, "About Corvel", 235, 55,
         {{"STATIC", -1, "#128", child | SS_ICON, 11, 17, 20, 20},
          {"STATIC", -1, "Quorvane Version 1.0", child | SS_LEFT | SS_NOPREFIX | WS_GROUP, 40, 10, 119, 8},
          {"STATIC", -1, "Copyright (C) 2002 Tembrook", child | SS_LEFT | WS_GROUP, 40, 25, 119, 8},
          {"BUTTON", 1, "OK", child | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 178, 7, 50, 14}}},
        {IDD_SELECT_ADAPTER, "Select Adapter", 206, 62,
         {{"STATIC", -1, "Adapter:", child | SS_LEFT | WS_GROUP, 7, 7, 28, 8},
          {"BUTTON", 1, "OK", child | BS_DEFPUSHBUTTON | WS_TABSTOP, 92, 41, 50, 14},
          {"BUTTON", 2, "Cancel", child | BS_PUSHBUTTON | WS_TABSTOP, 149, 41, 50, 14},
          {"COMBOBOX", 1001, "", child | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 7, 18, 192, 130}}},
        // The field first in tab order, so it has the focus; the line under it for libpcap's message.
        {IDD_CAPTURE_FILTER, "Capture Filter", 300, 73,
         {{"STATIC", -1, "Filter expression (as for tcpdump):", child | SS_LEFT | WS_GROUP, 7, 7, 200, 8},
          {"EDIT", 1002, "", child | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 18, 286, 13},
          {"STATIC", 1003, "", child | SS_LEFT | SS_NOPREFIX, 7, 36, 286, 8},
          {"BUTTON", 1, "OK", child | BS_DEFPUSHBUTTON | WS_TABSTOP, 186, 52, 50, 14},
          {"BUTTON", 2, "Cancel", child | BS_PUSHBUTTON | WS_TABSTOP, 243, 52, 50, 14}}},
    };
    auto dialogs = ProgramDialogs();
    ASSERT_EQ(dialogs.size(), 3u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        auto it = std::find_if(dialogs.begin(), dialogs.end(), [&](const DialogResource& d) { return d.id == c.id; });
        ASSERT_NE(it, dialogs.end());
        EXPECT_STREQ(it->caption, c.caption);
        EXPECT_EQ(it->style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
        EXPECT_STREQ(it->fontFace, "MS Sans Serif");
        EXPECT_EQ(it->fontPointSize, 8);
        EXPECT_EQ(it->cx, c.cx);
        EXPECT_EQ(it->cy, c.cy);
        std::vector<Control> actual;
        for (const DialogControlResource& k : it->controls)
            actual.push_back({k.windowClass, k.id, k.text, k.style, k.x, k.y, k.cx, k.cy});
        EXPECT_EQ(actual, c.controls);
    }
}

TEST(VersionResource, FixedPartStringsAndTranslation) {
    const VersionResource& v = ProgramVersion();
    EXPECT_EQ(std::vector<WORD>(v.fileVersion, v.fileVersion + 4), (std::vector<WORD>{2, 0, 0, 1}));
    EXPECT_EQ(std::vector<WORD>(v.productVersion, v.productVersion + 4), (std::vector<WORD>{2, 0, 0, 1}));
    EXPECT_EQ(v.flagsMask, 0x3Fu);
    EXPECT_EQ(v.flags, 0u);
    EXPECT_EQ(v.os, 4u);
    EXPECT_EQ(v.fileType, 1u);
    EXPECT_STREQ(v.stringBlock, "040904b0");
    std::vector<std::pair<std::string, std::string>> strings;
    for (const VersionStringResource& s : v.strings) strings.emplace_back(s.name, s.value);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"CompanyName", "Tembrook"},
        {"FileDescription", "Quorvane Packet Sniffer"},
        {"FileVersion", "2, 0, 0, 1"},
        {"InternalName", "Quorvane"},
        {"LegalCopyright", "Copyright (C) 2002 Tembrook"},
        {"OriginalFilename", "Quorvane.EXE"},
        {"ProductName", "Quorvane Application"},
        {"ProductVersion", "2, 0, 0, 1"},
    };
    EXPECT_EQ(strings, expected);
    EXPECT_EQ(v.translationLanguage, 0x0409);
    EXPECT_EQ(v.translationCodePage, 1200);
}

TEST(Manifest, RequestsAdministratorAndNothingElse) {
    const std::string m = ProgramManifest();
    EXPECT_NE(m.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"), std::string::npos);
    EXPECT_NE(m.find("<trustInfo"), std::string::npos);
    for (const char* absent : {"<dependency", "<application", "<compatibility", "<assemblyIdentity"})
        EXPECT_EQ(m.find(absent), std::string::npos) << absent;
}

TEST(ProgramResources, TableJoinsTheParts) {
    const ResourceTable& t = ProgramResources();
    EXPECT_EQ(&t, &ProgramResources());
    EXPECT_EQ(t.strings.data(), ProgramStrings().data());
    EXPECT_EQ(t.menus.data(), ProgramMenus().data());
    EXPECT_EQ(t.accelerators.data(), ProgramAccelerators().data());
    EXPECT_EQ(t.toolbars.data(), ProgramToolbars().data());
    EXPECT_EQ(t.bitmaps.data(), ProgramBitmaps().data());
    EXPECT_EQ(t.icons.data(), ProgramIcons().data());
    EXPECT_EQ(t.dialogs.data(), ProgramDialogs().data());
    EXPECT_EQ(t.version, &ProgramVersion());
    EXPECT_EQ(t.manifest, ProgramManifest());
}
