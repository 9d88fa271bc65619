// The list view: see CListView.h.
#include "framework/CListView.h"

namespace win {

CListView::CListView() = default;

CListView::~CListView() {
    // The shared handle belongs to the view; the list must not destroy it.
    m_list.m_hWnd = nullptr;
}

BOOL CListView::PreCreateWindow(CREATESTRUCT& cs) {
    if (!CView::PreCreateWindow(cs)) return FALSE;
    cs.lpszClass = "SysListView32";
    return TRUE;
}

QWidget* CListView::CreateWidget(const CREATESTRUCT& cs, QWidget* parent) { return m_list.CreateWidget(cs, parent); }

int CListView::OnCreate(LPCREATESTRUCT cs) {
    if (CView::OnCreate(cs) == -1) return -1;
    m_list.m_hWnd = m_hWnd;
    m_list.SetNotifyTarget(this);
    m_list.ApplyStyles();
    return 0;
}

void CListView::StyleChanged(DWORD oldStyle, DWORD newStyle) {
    CView::StyleChanged(oldStyle, newStyle);
    m_list.ApplyStyles();
}

void CListView::PostNcDestroy() {
    m_list.m_hWnd = nullptr;
    CView::PostNcDestroy();
}

void CListView::OnDraw(CDC*) {}

}  // namespace win
