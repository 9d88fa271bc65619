// The framework's own command, string and indicator ids, under the names the
// framework's sources use. The program declares the same values under the
// same names in its resource header (namespace win); these live in win::afx so
// that the two never clash. For the framework, its tests, and views below the
// application that handle the framework's own commands (printing).
#pragma once

#include "platform/WinTypes.h"

namespace win::afx {

inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_FILE_SAVE_AS = 57604;
inline constexpr UINT ID_VIEW_TOOLBAR = 59392;
inline constexpr UINT ID_VIEW_STATUS_BAR = 59393;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_INDICATOR_CAPS = 59137;
inline constexpr UINT ID_INDICATOR_NUM = 59138;
inline constexpr UINT ID_INDICATOR_SCRL = 59139;
inline constexpr UINT ID_FILE_PRINT = 57607;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_FILE_PRINT_DIRECT = 57608;
inline constexpr UINT ID_FILE_PRINT_PREVIEW = 57609;
inline constexpr UINT ID_FILE_NEW = 57600;
inline constexpr UINT ID_FILE_OPEN = 57601;
inline constexpr UINT ID_FILE_PRINT_SETUP = 57606;
inline constexpr UINT ID_APP_EXIT = 57665;
inline constexpr UINT ID_APP_ABOUT = 57664;
inline constexpr UINT AFX_IDS_APP_TITLE = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr UINT AFX_IDS_UNTITLED = 61443;

}  // namespace win::afx
