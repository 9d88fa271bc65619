// The program's own resource, control and command ids, which the document,
// the views and the application's resource tables share. They live here, in
// the lowest folder that uses them, so that ui/ and app/ include them
// downwards and no folder includes one above it; app/Resource.h adds the
// framework's standard ids. The values are fixed; code and tables use the names.
#pragma once

#include "platform/WinTypes.h"

namespace win {

// ---- The program's resources ------------------------------------------------------
inline constexpr UINT VS_VERSION_INFO = 1;
inline constexpr UINT IDR_MANIFEST = 1;
inline constexpr UINT IDD_ABOUTBOX = 100;
inline constexpr UINT IDR_MAINFRAME = 128;  // menu, accelerators, toolbar, bitmap, icon, template string
inline constexpr UINT IDR_PACKETTYPE = 129;  // document icon
inline constexpr UINT IDD_SELECT_ADAPTER = 130;
inline constexpr UINT IDS_REGKEY = 129;  // per-user settings key
inline constexpr int IDC_ADAPTER = 1001;
inline constexpr UINT IDD_CAPTURE_FILTER = 131;
inline constexpr int IDC_CAPTURE_FILTER = 1002;  // the expression
inline constexpr int IDC_FILTER_ERROR = 1003;    // libpcap's message about it

// ---- The program's commands --------------------------------------------------------
inline constexpr UINT ID_CAPTURE_START = 32771;
inline constexpr UINT ID_CAPTURE_STOP = 32772;
inline constexpr UINT ID_CAPTURE_CLEAR = 32773;
inline constexpr UINT ID_CAPTURE_SELECTADAPTER = 32774;
inline constexpr UINT ID_CAPTURE_RESOLVEADDRESSES = 32775;
inline constexpr UINT ID_CAPTURE_FILTER = 32776;
inline constexpr UINT ID_VIEW_FOLLOW = 32778;          // View, Follow New Packets
inline constexpr UINT ID_VIEW_DISPLAYFILTER = 32779;   // Ctrl+F: to the display filter field
inline constexpr UINT ID_DISPLAYFILTER_APPLY = 32780;  // Enter or Escape in the field
inline constexpr UINT IDW_DISPLAYFILTER = 59397;       // the display filter's bar
inline constexpr UINT ID_FILE_STOPREADING = 32790;     // Escape while a capture file is read

// ---- The program's status-bar indicators --------------------------------------------
inline constexpr UINT ID_INDICATOR_CAPTURED = 32781;  // datagrams the list holds
inline constexpr UINT ID_INDICATOR_SHOWN = 32782;     // of those, shown by the display filter
inline constexpr UINT ID_INDICATOR_LOST = 32783;      // datagrams the system dropped

}  // namespace win
