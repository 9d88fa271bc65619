// Toolbar 128 with its bitmap, and icon groups 128 (the application) and 129
// (the document). The pixels are XPM text in res/, 16 colours of the classic
// palette; the toolbar images sit on a light grey ground.
#include "app/ProgramResources.h"
#include "app/Resource.h"

namespace win {
namespace {

#include "app/res/mainframe16.xpm"
#include "app/res/mainframe32.xpm"
#include "app/res/packettype16.xpm"
#include "app/res/packettype32.xpm"
#include "app/res/toolbar.xpm"

// 0 is a separator; the images follow the buttons in order.
constexpr UINT kMainFrameButtons[] = {
    ID_CAPTURE_START, ID_CAPTURE_STOP, ID_CAPTURE_CLEAR, 0, ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, 0,
    ID_EDIT_CUT,      ID_EDIT_COPY,    ID_EDIT_PASTE,    0, ID_FILE_PRINT, 0,         ID_APP_ABOUT,
};

constexpr ToolbarResource kToolbars[] = {
    {IDR_MAINFRAME, 16, 15, kMainFrameButtons},
};

constexpr BitmapResource kBitmaps[] = {
    {IDR_MAINFRAME, toolbar_xpm},
};

constexpr IconResource kIcons[] = {
    {IDR_MAINFRAME, mainframe32_xpm, mainframe16_xpm},
    {IDR_PACKETTYPE, packettype32_xpm, packettype16_xpm},
};

}  // namespace

std::span<const ToolbarResource> ProgramToolbars() {
    return kToolbars;
}

std::span<const BitmapResource> ProgramBitmaps() {
    return kBitmaps;
}

std::span<const IconResource> ProgramIcons() {
    return kIcons;
}

}  // namespace win
