// Accelerator table 128: fifteen entries, all by virtual key, in this order.
// The capture commands have no keys. Ctrl+C and Ctrl+Insert copy the selected
// rows; the other Edit keys and F6 reach commands that are disabled, so they
// do nothing; they stay for the framework's conventions. Ctrl+F goes to the
// display filter field; Escape stops the reading of a capture file.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

constexpr AcceleratorEntry kMainFrameKeys[] = {
    {FVIRTKEY | FCONTROL, 'N', ID_FILE_NEW},
    {FVIRTKEY | FCONTROL, 'O', ID_FILE_OPEN},
    {FVIRTKEY | FCONTROL, 'S', ID_FILE_SAVE},
    {FVIRTKEY | FCONTROL, 'P', ID_FILE_PRINT},
    {FVIRTKEY | FCONTROL, 'Z', ID_EDIT_UNDO},
    {FVIRTKEY | FCONTROL, 'X', ID_EDIT_CUT},
    {FVIRTKEY | FCONTROL, 'C', ID_EDIT_COPY},
    {FVIRTKEY | FCONTROL, 'V', ID_EDIT_PASTE},
    {FVIRTKEY | FALT, VK_BACK, ID_EDIT_UNDO},
    {FVIRTKEY | FSHIFT, VK_DELETE, ID_EDIT_CUT},
    {FVIRTKEY | FCONTROL, VK_INSERT, ID_EDIT_COPY},
    {FVIRTKEY | FSHIFT, VK_INSERT, ID_EDIT_PASTE},
    {FVIRTKEY, VK_F6, ID_NEXT_PANE},
    {FVIRTKEY | FSHIFT, VK_F6, ID_PREV_PANE},
    {FVIRTKEY | FCONTROL, 'F', ID_VIEW_DISPLAYFILTER},
    {FVIRTKEY, VK_ESCAPE, ID_FILE_STOPREADING},
};

constexpr AcceleratorResource kAccelerators[] = {
    {IDR_MAINFRAME, kMainFrameKeys},
};

}  // namespace

std::span<const AcceleratorResource> ProgramAccelerators() {
    return kAccelerators;
}

}  // namespace win
