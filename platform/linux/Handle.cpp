// Handle checks and CloseHandle for the kernel objects (events, threads).
// Registered waits have handles too but are released by UnregisterWaitEx.
#include "platform/linux/KernelObjects.h"

namespace win {

namespace detail {

void KernelObject::Release() {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

KernelObject* ObjectFromHandle(HANDLE handle, bool acceptWaitable, bool acceptRegistration) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* object = static_cast<KernelObject*>(handle);
    if (!object->IsOpen()) return nullptr;
    const bool registration = object->Kind() == ObjectKind::Registration;
    if (registration ? !acceptRegistration : !acceptWaitable) return nullptr;
    return object;
}

}  // namespace detail

BOOL CloseHandle(HANDLE object) {
    detail::KernelObject* target = detail::ObjectFromHandle(object, true, false);
    if (target == nullptr || !target->MarkClosed()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    target->Release();
    return TRUE;
}

}  // namespace win
