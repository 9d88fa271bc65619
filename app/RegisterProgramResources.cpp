// Registration of the program's resources with the framework. Kept apart from
// the tables so that code reading only the tables needs no framework library.
#include "app/ProgramResources.h"

namespace win {

void RegisterProgramResources() {
    AfxSetResourceTable(&ProgramResources());
}

}  // namespace win
