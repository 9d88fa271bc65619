// A view whose window is a list-view control (window class "SysListView32").
// GetListCtrl() gives the control's operations on the view's own window; the
// control's NM_CLICK and NM_DBLCLK are reflected to the view's notification
// table (OnNotifyMsg), after the control has updated its selection. Style
// changes made on the view (ModifyStyle) reach the list.
//
// The list object inside shares the view's window handle without owning it:
// destroy the window through the view, never through GetListCtrl().
#pragma once

#include "framework/CListCtrl.h"
#include "framework/CView.h"

namespace win {

class CListView : public CView {
public:
    CListView();
    ~CListView() override;

    CListCtrl& GetListCtrl() const { return m_list; }

protected:
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;
    int OnCreate(LPCREATESTRUCT cs) override;
    void StyleChanged(DWORD oldStyle, DWORD newStyle) override;
    void PostNcDestroy() override;
    /// Draws nothing: the list draws itself.
    void OnDraw(CDC* dc) override;

private:
    mutable CListCtrl m_list;
};

}  // namespace win
