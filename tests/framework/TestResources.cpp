// The framework tests' resources: a template string, prompts and tooltips, a
// menu, accelerators, a three-button toolbar whose images are three solid
// colours (red, green, blue, left to right), an icon and a dialog like the
// adapter dialog.
#include "tests/framework/TestResources.h"

#include "framework/Resources.h"

namespace fwtest {
namespace {
using namespace win;

const StringResource kStrings[] = {
    {128, "TestApp\n\nDoc\n\n\nTest.Document\nTest File"},
    {57344, "TestApp"},
    {57345, "Ready"},
    {61443, "Untitiled"},
    {59137, "CAP"},
    {59138, "NUM"},
    {59139, "SCRL"},
    {57600, "Create a new document\nNew"},
    {59392, "Show or hide the toolbar\nToggle ToolBar"},
    {59393, "Show or hide the status bar\nToggle StatusBar"},
    {kViewCmd, "View command prompt\nView Tip"},
    {kDocCmd, "Document command prompt\nDoc Tip"},
    {kUnhandledCmd, "Nobody handles this\nNobody"},
};

const MenuItemResource kMenu[] = {
    {MF_POPUP, 0, "&File"},
    {MF_STRING, 57600, "&New\tCtrl+N"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING | MF_END, 57665, "E&xit"},
    {MF_POPUP, 0, "&Test"},
    {MF_STRING, kViewCmd, "View"},
    {MF_STRING, kDocCmd, "Doc"},
    {MF_STRING, kFrameCmd, "Frame"},
    {MF_STRING, kAppCmd, "App"},
    {MF_STRING, kAllCmd, "All"},
    {MF_STRING | MF_END, kUnhandledCmd, "Nobody"},
    {MF_POPUP, 0, "&View"},
    {MF_STRING, 59392, "&Toolbar"},
    {MF_STRING | MF_END, 59393, "&Status Bar"},
};
const MenuResource kMenus[] = {{128, kMenu}};

const AcceleratorEntry kAccel[] = {
    {FVIRTKEY | FCONTROL, 'N', 57600},
    {FVIRTKEY | FCONTROL, 'U', static_cast<WORD>(kUnhandledCmd)},
    {FVIRTKEY | FCONTROL, 'D', static_cast<WORD>(kDocCmd)},
    {FVIRTKEY, VK_F6, 57680},
};
const AcceleratorResource kAccels[] = {{128, kAccel}};

const UINT kToolbarItems[] = {kViewCmd, 0, kUnhandledCmd, 57600};
const ToolbarResource kToolbars[] = {{128, 16, 15, kToolbarItems}};

#define ROW "rrrrrrrrrrrrrrrrggggggggggggggggbbbbbbbbbbbbbbbb"
const char* const kStrip[] = {"48 15 3 1", "r c #FF0000", "g c #00FF00", "b c #0000FF", ROW, ROW, ROW, ROW, ROW,
                              ROW, ROW, ROW, ROW, ROW, ROW, ROW, ROW, ROW, ROW};
#undef ROW
const BitmapResource kBitmaps[] = {{128, kStrip}};

const char* const kIcon16[] = {"16 16 1 1", "y c #FFFF00", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy",
                               "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy",
                               "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy",
                               "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy", "yyyyyyyyyyyyyyyy",
                               "yyyyyyyyyyyyyyyy"};
const IconResource kIcons[] = {{128, kIcon16, kIcon16}};

const DialogControlResource kControls[] = {
    {"STATIC", IDC_STATIC, "Adapter:", WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP, 7, 7, 28, 8},
    {"BUTTON", IDOK, "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, 92, 41, 50, 14},
    {"BUTTON", IDCANCEL, "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 149, 41, 50, 14},
    {"COMBOBOX", kComboId, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 7, 18,
     192, 130},
};
const DialogResource kDialogs[] = {{kDialogId, "Select Adapter", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                                                     DS_SETFONT,
                                    "MS Sans Serif", 8, 0, 0, 206, 62, kControls}};

const ResourceTable kTable{kStrings, kMenus, kAccels, kToolbars, kBitmaps, kIcons, kDialogs, nullptr, ""};

}  // namespace

void InstallTestResources() { AfxSetResourceTable(&kTable); }

}  // namespace fwtest
