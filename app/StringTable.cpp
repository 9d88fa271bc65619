// The string table, in id order: the template string, the settings key, the
// command prompts with their tooltips (prompt, "\n", tooltip), the application
// title, the status-bar texts and the system-menu prompts. Some framework
// strings are kept although nothing of the program shows them.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

constexpr StringResource kStrings[] = {
    {IDR_MAINFRAME, "Quorvane\n\nPacket\nCapture files (*.pcapng *.pcap *.cap)\n.pcapng\nCorvel.Document\nPacket Capture File"},
    {IDS_REGKEY, "Software\\Tembrook\\Quorvane"},
    {ID_CAPTURE_START, "Start capturing packets\nStart Capture"},
    {ID_CAPTURE_STOP, "Stop capturing packets\nStop Capture"},
    {ID_CAPTURE_CLEAR, "Clear the capture window\nClear"},
    {ID_CAPTURE_SELECTADAPTER, "Select the adapter to bind to\nSelect Adapter"},
    {ID_CAPTURE_FILTER, "Choose which packets a capture keeps\nCapture Filter"},
    {ID_CAPTURE_RESOLVEADDRESSES, "Resolve IP Addresses on the fly.\nResolve IP Addresses"},
    {ID_VIEW_FOLLOW, "Keep the newest packet in view as packets arrive\nFollow New Packets"},
    {ID_VIEW_DISPLAYFILTER, "Type a display filter\nDisplay Filter"},
    {ID_DISPLAYFILTER_APPLY, "Show only the packets that match the display filter\nApply Display Filter"},
    {ID_FILE_STOPREADING, "Stop reading the capture file, keeping the rows read\nStop Reading"},
    {AFX_IDS_APP_TITLE, "Quorvane"},
    {AFX_IDS_IDLEMESSAGE, "Ready"},
    {ID_FILE_NEW, "Create a new document\nNew"},
    {ID_FILE_OPEN, "Open an existing document\nOpen"},
    {ID_FILE_CLOSE, "Close the active document\nClose"},
    {ID_FILE_SAVE, "Save the active document\nSave"},
    {ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"},
    {ID_FILE_PAGE_SETUP, "Change the printing options\nPage Setup"},
    {ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
    {ID_FILE_PRINT, "Print the active document\nPrint"},
    {ID_FILE_PRINT_PREVIEW, "Display full pages\nPrint Preview"},
    {ID_FILE_MRU_FILE1 + 0, "Open this document"},
    {ID_FILE_MRU_FILE1 + 1, "Open this document"},
    {ID_FILE_MRU_FILE1 + 2, "Open this document"},
    {ID_FILE_MRU_FILE1 + 3, "Open this document"},
    {ID_FILE_MRU_FILE1 + 4, "Open this document"},
    {ID_FILE_MRU_FILE1 + 5, "Open this document"},
    {ID_FILE_MRU_FILE1 + 6, "Open this document"},
    {ID_FILE_MRU_FILE1 + 7, "Open this document"},
    {ID_FILE_MRU_FILE1 + 8, "Open this document"},
    {ID_FILE_MRU_FILE1 + 9, "Open this document"},
    {ID_FILE_MRU_FILE1 + 10, "Open this document"},
    {ID_FILE_MRU_FILE1 + 11, "Open this document"},
    {ID_FILE_MRU_FILE1 + 12, "Open this document"},
    {ID_FILE_MRU_FILE1 + 13, "Open this document"},
    {ID_FILE_MRU_FILE1 + 14, "Open this document"},
    {ID_FILE_MRU_FILE16, "Open this document"},
    {ID_EDIT_CLEAR, "Erase the selection\nErase"},
    {ID_EDIT_CLEAR_ALL, "Erase everything\nErase All"},
    {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"},
    {ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"},
    {ID_EDIT_FIND, "Find the specified text\nFind"},
    {ID_EDIT_PASTE, "Insert Clipboard contents\nPaste"},
    {ID_EDIT_REPEAT, "Repeat the last action\nRepeat"},
    {ID_EDIT_REPLACE, "Replace specific text with different text\nReplace"},
    {ID_EDIT_SELECT_ALL, "Select the entire document\nSelect All"},
    {ID_EDIT_UNDO, "Undo the last action\nUndo"},
    {ID_EDIT_REDO, "Redo the previously undone action\nRedo"},
    {ID_WINDOW_SPLIT, "Split the active window into panes\nSplit"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    {ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
    {ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},
    {ID_INDICATOR_EXT, "EXT"},
    {ID_INDICATOR_CAPS, "CAP"},
    {ID_INDICATOR_NUM, "NUM"},
    {ID_INDICATOR_SCRL, "SCRL"},
    {ID_INDICATOR_OVR, "OVR"},
    {ID_INDICATOR_REC, "REC"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
    {AFX_IDS_SCSIZE, "Change the window size"},
    {AFX_IDS_SCMOVE, "Change the window position"},
    {AFX_IDS_SCMINIMIZE, "Reduce the window to an icon"},
    {AFX_IDS_SCMAXIMIZE, "Enlarge the window to full size"},
    {AFX_IDS_SCNEXTWINDOW, "Switch to the next document window"},
    {AFX_IDS_SCPREVWINDOW, "Switch to the previous document window"},
    {AFX_IDS_SCCLOSE, "Close the active window and prompts to save the documents"},
    {AFX_IDS_SCRESTORE, "Restore the window to normal size"},
    {AFX_IDS_SCTASKLIST, "Activate Task List"},
    {AFX_IDS_UNTITLED, "Untitiled"},
};

}  // namespace

std::span<const StringResource> ProgramStrings() {
    return kStrings;
}

}  // namespace win
