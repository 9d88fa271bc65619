// Menu 128, the main frame's menu bar: five popups, items in order. Item
// states (greyed, checked) are not part of the resource; update handlers set
// them at run time. The adapter, filter and resolver items carry no mnemonic. The
// bar ends with the table; MF_END marks only the last item of each popup.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

constexpr MenuItemResource kMainFrameMenu[] = {
    {MF_POPUP, 0, "&File"},
    {MF_STRING, ID_FILE_NEW, "&New\tCtrl+N"},
    {MF_STRING, ID_FILE_OPEN, "&Open...\tCtrl+O"},
    {MF_STRING, ID_FILE_SAVE, "&Save\tCtrl+S"},
    {MF_STRING, ID_FILE_SAVE_AS, "Save &As..."},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING, ID_FILE_PRINT, "&Print...\tCtrl+P"},
    {MF_STRING, ID_FILE_PRINT_PREVIEW, "Print Pre&view"},
    {MF_STRING, ID_FILE_PRINT_SETUP, "P&rint Setup..."},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING | MF_END, ID_APP_EXIT, "E&xit"},

    {MF_POPUP, 0, "&Capture"},
    {MF_STRING, ID_CAPTURE_START, "&Start"},
    {MF_STRING, ID_CAPTURE_STOP, "S&top"},
    {MF_STRING, ID_CAPTURE_CLEAR, "&Clear"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING, ID_CAPTURE_SELECTADAPTER, "Select Adapter..."},
    {MF_STRING, ID_CAPTURE_FILTER, "Capture Filter..."},
    {MF_STRING | MF_END, ID_CAPTURE_RESOLVEADDRESSES, "Resolve IP Addresses"},

    {MF_POPUP, 0, "&Edit"},
    {MF_STRING, ID_EDIT_UNDO, "&Undo\tCtrl+Z"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING, ID_EDIT_CUT, "Cu&t\tCtrl+X"},
    {MF_STRING, ID_EDIT_COPY, "&Copy\tCtrl+C"},
    {MF_STRING | MF_END, ID_EDIT_PASTE, "&Paste\tCtrl+V"},

    {MF_POPUP, 0, "&View"},
    {MF_STRING, ID_VIEW_TOOLBAR, "&Toolbar"},
    {MF_STRING, ID_VIEW_STATUS_BAR, "&Status Bar"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING | MF_END, ID_VIEW_FOLLOW, "&Follow New Packets"},

    {MF_POPUP, 0, "&Help"},
    {MF_STRING | MF_END, ID_APP_ABOUT, "&About Quorvane..."},
};

constexpr MenuResource kMenus[] = {
    {IDR_MAINFRAME, kMainFrameMenu},
};

}  // namespace

std::span<const MenuResource> ProgramMenus() {
    return kMenus;
}

}  // namespace win
