// Unnamed events: CreateEventA, SetEvent, ResetEvent. The state machine is
// Waitable's; this file checks arguments and handles.
#include "platform/linux/KernelObjects.h"

namespace win {

namespace {
detail::Waitable* EventFromHandle(HANDLE handle) {
    detail::KernelObject* object = detail::ObjectFromHandle(handle, true, false);
    if (object == nullptr || object->Kind() != detail::ObjectKind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<detail::Waitable*>(object);
}
}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    // Named events would be shared between processes; nothing here needs them.
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return new detail::Waitable(detail::ObjectKind::Event, manualReset != FALSE, initialState != FALSE);
}

BOOL SetEvent(HANDLE event) {
    detail::Waitable* target = EventFromHandle(event);
    if (target == nullptr) return FALSE;
    target->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    detail::Waitable* target = EventFromHandle(event);
    if (target == nullptr) return FALSE;
    target->Reset();
    return TRUE;
}

}  // namespace win
