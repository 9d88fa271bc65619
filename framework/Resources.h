// Resource data as the framework reads it: string table, menus, accelerator
// tables, toolbars, bitmaps and icons (XPM text), dialog templates, the version
// block and the manifest. The program describes its resources as constant
// tables of these records and hands them to the framework once with
// AfxSetResourceTable before the application starts.
#pragma once

#include <span>

#include "platform/WinTypes.h"

namespace win {

// ---- Window and control styles used by dialog templates --------------------------------------
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_DLGFRAME = 0x00400000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

inline constexpr DWORD DS_SETFONT = 0x40;
inline constexpr DWORD DS_MODALFRAME = 0x80;

inline constexpr DWORD SS_LEFT = 0x00000000;
inline constexpr DWORD SS_ICON = 0x00000003;
inline constexpr DWORD SS_NOPREFIX = 0x00000080;

inline constexpr DWORD BS_PUSHBUTTON = 0x00000000;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001;

inline constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
inline constexpr DWORD CBS_SORT = 0x0100;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// ---- Virtual keys and accelerator flags ---------------------------------------------
inline constexpr BYTE FVIRTKEY = 0x01;
inline constexpr BYTE FSHIFT = 0x04;
inline constexpr BYTE FCONTROL = 0x08;
inline constexpr BYTE FALT = 0x10;
inline constexpr WORD VK_BACK = 0x08;
inline constexpr WORD VK_ESCAPE = 0x1B;
inline constexpr WORD VK_INSERT = 0x2D;
inline constexpr WORD VK_DELETE = 0x2E;
inline constexpr WORD VK_F6 = 0x75;

// ---- Menu item flags ------------------------------------------------------------------
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;
inline constexpr UINT MF_POPUP = 0x0010;
inline constexpr UINT MF_END = 0x0080;  // the last item of a popup or of the bar

// ---- Records ------------------------------------------------------------------------
struct StringResource {
    UINT id;
    const char* text;
};

/// One menu entry. A popup entry (MF_POPUP) is followed by its items; the item
/// flagged MF_END closes the innermost open popup (or the bar at top level).
struct MenuItemResource {
    UINT flags;
    UINT id;  // 0 for popups and separators
    const char* text;  // "\t" separates the item text from its key hint
};
struct MenuResource {
    UINT id;
    std::span<const MenuItemResource> items;
};

struct AcceleratorEntry {
    BYTE flags;  // FVIRTKEY | FCONTROL | FSHIFT | FALT
    WORD key;  // virtual key: 'A'..'Z', VK_...
    WORD command;
};
struct AcceleratorResource {
    UINT id;
    std::span<const AcceleratorEntry> entries;
};

/// XPM image data, as a C array of strings (reviewable in a diff).
using XpmData = const char* const*;

struct BitmapResource {
    UINT id;
    XpmData xpm;
};
struct IconResource {
    UINT id;
    XpmData large;  // 32 by 32
    XpmData small;  // 16 by 16
};

/// A toolbar: button ids in order, 0 for a separator; images cut from the bitmap
/// of the same id, one per button, in button order.
struct ToolbarResource {
    UINT id;
    int imageWidth;
    int imageHeight;
    std::span<const UINT> items;
};

struct DialogControlResource {
    const char* windowClass;  // "STATIC", "BUTTON", "COMBOBOX"
    int id;  // IDC_STATIC for none
    const char* text;  // for SS_ICON statics, the icon id as "#128"
    DWORD style;  // WS_CHILD | WS_VISIBLE | control styles
    short x, y, cx, cy;  // dialog units
};
struct DialogResource {
    UINT id;
    const char* caption;
    DWORD style;
    const char* fontFace;
    WORD fontPointSize;
    short x, y, cx, cy;  // dialog units
    std::span<const DialogControlResource> controls;  // in tab order
};

struct VersionStringResource {
    const char* name;
    const char* value;
};
struct VersionResource {
    WORD fileVersion[4];
    WORD productVersion[4];
    DWORD flagsMask;
    DWORD flags;
    DWORD os;
    DWORD fileType;
    const char* stringBlock;  // "040904b0"
    std::span<const VersionStringResource> strings;
    WORD translationLanguage;
    WORD translationCodePage;
};

struct ResourceTable {
    std::span<const StringResource> strings;
    std::span<const MenuResource> menus;
    std::span<const AcceleratorResource> accelerators;
    std::span<const ToolbarResource> toolbars;
    std::span<const BitmapResource> bitmaps;
    std::span<const IconResource> icons;
    std::span<const DialogResource> dialogs;
    const VersionResource* version;
    const char* manifest;  // the manifest text
};

/// Installs the program's resources; called once, during static initialisation
/// or before the framework starts. The table must outlive the program.
void AfxSetResourceTable(const ResourceTable* table);
const ResourceTable* AfxGetResourceTable();

/// Lookups; null when the id is absent.
const char* AfxFindString(UINT id);
const MenuResource* AfxFindMenu(UINT id);
const AcceleratorResource* AfxFindAccelerators(UINT id);
const ToolbarResource* AfxFindToolbar(UINT id);
const BitmapResource* AfxFindBitmap(UINT id);
const IconResource* AfxFindIcon(UINT id);
const DialogResource* AfxFindDialog(UINT id);

}  // namespace win
