// The link between the list view and its resolution passes. A pass runs on a
// thread of its own and may be blocked in a slow reverse lookup when the view
// goes away, so it does not hold the view: it holds this small object, shared
// with the view, and reaches the list only through Use, which runs the list
// operation under the link's lock unless the view has closed the link. The view
// closes it in OnDestroy, before its list is destroyed, and does not wait for
// passes that are blocked in a lookup: they find the link closed and end.
//
// Lock order: the link's lock is taken before the list's row lock, never after,
// and the UI thread never holds a row lock when it closes the link.
#pragma once

#include <functional>
#include <mutex>

namespace win {
class CListCtrl;
}

class ResolverLink {
public:
    explicit ResolverLink(win::CListCtrl& list) : m_pList(&list) {}
    ResolverLink(const ResolverLink&) = delete;
    ResolverLink& operator=(const ResolverLink&) = delete;

    /// Runs f on the list under the link's lock; false (f not run) once closed.
    bool Use(const std::function<void(win::CListCtrl&)>& f);
    /// From now on Use runs nothing; returns once no Use is running. UI thread.
    void Close();
    bool IsClosed();

private:
    std::mutex m_mutex;
    win::CListCtrl* m_pList;  // null once closed; guarded by m_mutex
};
