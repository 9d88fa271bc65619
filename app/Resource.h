// Resource and command ids of the program: its own commands, resources and
// controls, and the framework's standard ids that its menus, toolbar, keys and
// string table refer to. The values are fixed; code and tables use the names.
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

// ---- The program's commands --------------------------------------------------------
inline constexpr UINT ID_CAPTURE_START = 32771;
inline constexpr UINT ID_CAPTURE_STOP = 32772;
inline constexpr UINT ID_CAPTURE_CLEAR = 32773;
inline constexpr UINT ID_CAPTURE_SELECTADAPTER = 32774;
inline constexpr UINT ID_CAPTURE_RESOLVEADDRESSES = 32775;
inline constexpr UINT ID_FILE_STOPREADING = 32790;  // Escape while a capture file is read

// ---- Framework commands ------------------------------------------------------------
inline constexpr UINT ID_FILE_NEW = 57600;
inline constexpr UINT ID_FILE_OPEN = 57601;
inline constexpr UINT ID_FILE_CLOSE = 57602;
inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_FILE_SAVE_AS = 57604;
inline constexpr UINT ID_FILE_PAGE_SETUP = 57605;
inline constexpr UINT ID_FILE_PRINT_SETUP = 57606;
inline constexpr UINT ID_FILE_PRINT = 57607;
inline constexpr UINT ID_FILE_PRINT_DIRECT = 57608;
inline constexpr UINT ID_FILE_PRINT_PREVIEW = 57609;
inline constexpr UINT ID_FILE_MRU_FILE1 = 57616;
inline constexpr UINT ID_FILE_MRU_FILE16 = 57631;
inline constexpr UINT ID_EDIT_CLEAR = 57632;
inline constexpr UINT ID_EDIT_CLEAR_ALL = 57633;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_EDIT_CUT = 57635;
inline constexpr UINT ID_EDIT_FIND = 57636;
inline constexpr UINT ID_EDIT_PASTE = 57637;
inline constexpr UINT ID_EDIT_REPEAT = 57640;
inline constexpr UINT ID_EDIT_REPLACE = 57641;
inline constexpr UINT ID_EDIT_SELECT_ALL = 57642;
inline constexpr UINT ID_EDIT_UNDO = 57643;
inline constexpr UINT ID_EDIT_REDO = 57644;
inline constexpr UINT ID_WINDOW_SPLIT = 57653;
inline constexpr UINT ID_APP_ABOUT = 57664;
inline constexpr UINT ID_APP_EXIT = 57665;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;
inline constexpr UINT ID_VIEW_TOOLBAR = 59392;
inline constexpr UINT ID_VIEW_STATUS_BAR = 59393;

// ---- Status-bar indicators ---------------------------------------------------------
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_INDICATOR_EXT = 59136;
inline constexpr UINT ID_INDICATOR_CAPS = 59137;
inline constexpr UINT ID_INDICATOR_NUM = 59138;
inline constexpr UINT ID_INDICATOR_SCRL = 59139;
inline constexpr UINT ID_INDICATOR_OVR = 59140;
inline constexpr UINT ID_INDICATOR_REC = 59141;

// ---- Framework strings ---------------------------------------------------------------
inline constexpr UINT AFX_IDS_APP_TITLE = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr UINT AFX_IDS_SCSIZE = 61184;
inline constexpr UINT AFX_IDS_SCMOVE = 61185;
inline constexpr UINT AFX_IDS_SCMINIMIZE = 61186;
inline constexpr UINT AFX_IDS_SCMAXIMIZE = 61187;
inline constexpr UINT AFX_IDS_SCNEXTWINDOW = 61188;
inline constexpr UINT AFX_IDS_SCPREVWINDOW = 61189;
inline constexpr UINT AFX_IDS_SCCLOSE = 61190;
inline constexpr UINT AFX_IDS_SCRESTORE = 61202;
inline constexpr UINT AFX_IDS_SCTASKLIST = 61203;
inline constexpr UINT AFX_IDS_UNTITLED = 61443;

// ---- Version block values --------------------------------------------------------------
inline constexpr DWORD VS_FFI_FILEFLAGSMASK = 0x0000003F;
inline constexpr DWORD VOS__WINDOWS32 = 0x00000004;
inline constexpr DWORD VFT_APP = 0x00000001;

}  // namespace win
