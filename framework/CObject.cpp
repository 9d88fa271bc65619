// The root class record.
#include "framework/CObject.h"

namespace win {

const CRuntimeClass CObject::classCObject{"CObject", nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

}  // namespace win
