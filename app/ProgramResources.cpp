// Assembles the program's resource table from the per-kind tables.
#include "app/ProgramResources.h"

namespace win {

const ResourceTable& ProgramResources() {
    static const ResourceTable table{
        ProgramStrings(), ProgramMenus(),  ProgramAccelerators(), ProgramToolbars(),   ProgramBitmaps(),
        ProgramIcons(),   ProgramDialogs(), &ProgramVersion(),     ProgramManifest(),
    };
    return table;
}

}  // namespace win
