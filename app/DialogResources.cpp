// Dialog templates 100 (the About box), 130 (the adapter dialog) and 131 (the
// capture filter): caption,
// style, font, size and controls in template order, which is also the tab
// order. Positions and sizes are dialog units.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

constexpr DWORD kDialogStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

constexpr DialogControlResource kAboutControls[] = {
    {"STATIC", IDC_STATIC, "#128", kChild | SS_ICON, 11, 17, 20, 20},
    {"STATIC", IDC_STATIC, "Quorvane Version 1.0", kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP, 40, 10, 119, 8},
    {"STATIC", IDC_STATIC, "Copyright (C) 2002 Tembrook", kChild | SS_LEFT | WS_GROUP, 40, 25, 119, 8},
    {"BUTTON", IDOK, "OK", kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 178, 7, 50, 14},
};

constexpr DialogControlResource kSelectAdapterControls[] = {
    {"STATIC", IDC_STATIC, "Adapter:", kChild | SS_LEFT | WS_GROUP, 7, 7, 28, 8},
    {"BUTTON", IDOK, "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 92, 41, 50, 14},
    {"BUTTON", IDCANCEL, "Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, 149, 41, 50, 14},
    // The height includes the dropped-down list.
    {"COMBOBOX", IDC_ADAPTER, "", kChild | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 7, 18, 192, 130},
};

// The expression field comes first in tab order, so it has the focus; the
// line under it shows why an expression was refused.
constexpr DialogControlResource kCaptureFilterControls[] = {
    {"STATIC", IDC_STATIC, "Filter expression (as for tcpdump):", kChild | SS_LEFT | WS_GROUP, 7, 7, 200, 8},
    {"EDIT", IDC_CAPTURE_FILTER, "", kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 18, 286, 13},
    {"STATIC", IDC_FILTER_ERROR, "", kChild | SS_LEFT | SS_NOPREFIX, 7, 36, 286, 8},
    {"BUTTON", IDOK, "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 186, 52, 50, 14},
    {"BUTTON", IDCANCEL, "Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, 243, 52, 50, 14},
};

constexpr DialogResource kDialogs[] = {
    {IDD_ABOUTBOX, "About Corvel", kDialogStyle, "MS Sans Serif", 8, 0, 0, 235, 55, kAboutControls},
    {IDD_SELECT_ADAPTER, "Select Adapter", kDialogStyle, "MS Sans Serif", 8, 0, 0, 206, 62, kSelectAdapterControls},
    {IDD_CAPTURE_FILTER, "Capture Filter", kDialogStyle, "MS Sans Serif", 8, 0, 0, 300, 73, kCaptureFilterControls},
};

}  // namespace

std::span<const DialogResource> ProgramDialogs() {
    return kDialogs;
}

}  // namespace win
