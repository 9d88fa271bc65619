// The view's link to its resolution passes: see ResolverLink.h.
#include "ui/ResolverLink.h"

bool ResolverLink::Use(const std::function<void(win::CListCtrl&)>& f) {
    std::lock_guard guard(m_mutex);
    if (!m_pList) return false;
    f(*m_pList);
    return true;
}

void ResolverLink::Close() {
    std::lock_guard guard(m_mutex);
    m_pList = nullptr;
}

bool ResolverLink::IsClosed() {
    std::lock_guard guard(m_mutex);
    return m_pList == nullptr;
}
