// The list-view control: see CListCtrl.h.
#include "framework/CListCtrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QThread>
#include <algorithm>
#include <cstring>

#include "framework/CellToolTips.h"
#include "framework/FontScale.h"
#include "framework/ListModel.h"
#include "framework/ListRowStore.h"
#include "framework/ListTableView.h"
#include "framework/WindowHandle.h"

namespace win {

CListCtrl::CListCtrl() = default;

CListCtrl::~CListCtrl() {
    if (m_store) m_store->Close();
}

BOOL CListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CWnd::Create("SysListView32", "", style, rect, parent, id);
}

bool CListCtrl::OnUiThread() const { return qApp && QThread::currentThread() == qApp->thread(); }

QWidget* CListCtrl::CreateWidget(const CREATESTRUCT& cs, QWidget* parent) {
    auto* view = new ListTableView(parent);
    auto* model = new ListModel(view);
    view->setModel(model);
    new CellToolTips(view);
    m_store = model->Store();
    model->SetEnsureVisibleHandler([view, model](int row, bool partialOK) {
        // A partly visible row counts as visible only when the caller accepts it.
        // Requests come for new rows: they wait while the person reads back.
        if (!view->IsFollowing()) return;
        const QModelIndex index = model->index(row, 0);
        const QRect r = view->visualRect(index);
        const QRect area = view->viewport()->rect();
        if (partialOK && r.intersects(area)) return;
        view->scrollTo(index, QAbstractItemView::EnsureVisible);
    });
    model->SetVisibleRowsHandler([view](int& first, int& last) { view->VisibleRows(first, last); });
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, [this, view, model] {
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        if (m_store) m_store->SetSelected(rows.isEmpty() ? -1 : model->StoreRow(rows.first().row()));
    });
    view->SetMouseHandler([this](unsigned code) { SendMouseNotification(code); });
    m_exStyle = 0;
    (void)cs;
    return view;
}

int CListCtrl::OnCreate(LPCREATESTRUCT cs) {
    if (CWnd::OnCreate(cs) == -1) return -1;
    // The style bits live in the handle, which exists from here on.
    ApplyStyles();
    return 0;
}

ListModel* CListCtrl::GetModel() const {
    ListTableView* view = GetTableView();
    return view ? static_cast<ListModel*>(view->model()) : nullptr;
}

ListTableView* CListCtrl::GetTableView() const { return static_cast<ListTableView*>(GetWidget()); }

void CListCtrl::ApplyStyles() {
    ListTableView* view = GetTableView();
    if (!view) return;
    const DWORD style = GetStyle();
    view->SetShowSelectionAlways((style & LVS_SHOWSELALWAYS) != 0);
    view->setSelectionMode((style & LVS_SINGLESEL) ? QAbstractItemView::SingleSelection
                                                   : QAbstractItemView::ExtendedSelection);
    view->horizontalHeader()->setSectionsMovable((m_exStyle & LVS_EX_HEADERDRAGDROP) != 0);
    view->setShowGrid((m_exStyle & LVS_EX_GRIDLINES) != 0);
    // Without full-row selection only the first cell is highlighted.
    view->setSelectionBehavior((m_exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                                  : QAbstractItemView::SelectItems);
}

void CListCtrl::StyleChanged(DWORD oldStyle, DWORD newStyle) {
    CWnd::StyleChanged(oldStyle, newStyle);
    ApplyStyles();
}

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle, DWORD mask) {
    const DWORD old = m_exStyle;
    m_exStyle = mask ? ((m_exStyle & ~mask) | (exStyle & mask)) : exStyle;
    ApplyStyles();
    return old;
}

int CListCtrl::InsertColumn(int column, LPCSTR heading, int format, int width, int) {
    ListModel* model = GetModel();
    if (!model || column < 0) return -1;
    const Qt::Alignment align = (format & LVCFMT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
    const QString text = QString::fromUtf8(heading ? heading : "");
    const int index = model->InsertColumn(column, text, align);
    if (index < 0 || width < 0) return index;
    // The width is in pixels of the 8-point font: convert it to the list's
    // font, and never make the header's own text cut.
    QHeaderView* header = GetTableView()->horizontalHeader();
    header->resizeSection(index, std::max(FontScale::Width(width, GetTableView()->font()),
                                          FontScale::HeaderWidth(header, text)));
    return index;
}

int CListCtrl::GetColumnCount() const {
    ListModel* model = GetModel();
    return model ? model->columnCount() : 0;
}

void CListCtrl::SetFollow(BOOL follow) {
    if (ListTableView* view = GetTableView()) view->SetFollowing(follow != FALSE);
}

BOOL CListCtrl::GetFollow() const {
    ListTableView* view = GetTableView();
    return view && view->IsFollowing() ? TRUE : FALSE;
}

void CListCtrl::SetRowFilter(std::function<bool(LPARAM)> filter) {
    ListModel* model = GetModel();
    ListTableView* view = GetTableView();
    if (!model || !view || !m_store) return;
    // Rows that came since the last publish are filtered with the others.
    model->Publish();
    const int selected = m_store->GetSelected();
    model->SetRowFilter(std::move(filter));
    // The selected row stays selected (and in view, unless the list follows)
    // when the filter shows it; otherwise nothing is selected.
    const int row = model->ModelRow(selected);
    if (row >= 0) {
        const QModelIndex index = model->index(row, 0);
        view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    } else {
        m_store->SetSelected(-1);
    }
    if (view->IsFollowing()) view->SetFollowing(true);
    else if (row >= 0) view->scrollTo(model->index(row, 0), QAbstractItemView::PositionAtCenter);
}

int CListCtrl::GetShownCount() const {
    ListModel* model = GetModel();
    return model ? model->rowCount() : 0;
}

int CListCtrl::GetItemCount() const { return m_store ? m_store->GetCount() : 0; }

int CListCtrl::GetItemCount(std::uint64_t& generation) const {
    generation = 0;
    return m_store ? m_store->GetCount(generation) : 0;
}

int CListCtrl::InsertItem(const LVITEM* item) {
    if (!m_store || !item || item->iSubItem != 0) return -1;
    const char* text = (item->mask & LVIF_TEXT) && item->pszText ? item->pszText : "";
    const LPARAM data = (item->mask & LVIF_PARAM) ? item->lParam : 0;
    return m_store->InsertRow(item->iItem, text, data);
}

int CListCtrl::InsertItem(int item, LPCSTR text) {
    if (!m_store) return -1;
    return m_store->InsertRow(item, text ? text : "", 0);
}

BOOL CListCtrl::SetItem(const LVITEM* item) {
    if (!m_store || !item) return FALSE;
    if ((item->mask & LVIF_TEXT) && !m_store->SetText(item->iItem, item->iSubItem, item->pszText ? item->pszText : "")) {
        return FALSE;
    }
    if (item->mask & LVIF_PARAM) {
        if (item->iSubItem != 0) return FALSE;
        if (!m_store->SetData(item->iItem, item->lParam)) return FALSE;
    }
    // Fields the list does not keep (state, image) are accepted for an existing row.
    if (!(item->mask & (LVIF_TEXT | LVIF_PARAM))) {
        return item->iItem >= 0 && item->iItem < m_store->GetCount() ? TRUE : FALSE;
    }
    return TRUE;
}

BOOL CListCtrl::GetItem(LVITEM* item) const {
    if (!m_store || !item) return FALSE;
    if (item->mask & LVIF_TEXT) {
        std::string text;
        if (!m_store->GetText(item->iItem, item->iSubItem, text)) return FALSE;
        if (item->pszText && item->cchTextMax > 0) {
            const std::size_t n = std::min(text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
            std::memcpy(item->pszText, text.data(), n);
            item->pszText[n] = '\0';
        }
    }
    if (item->mask & LVIF_PARAM) {
        if (item->iItem < 0 || item->iItem >= m_store->GetCount()) return FALSE;
        item->lParam = m_store->GetData(item->iItem);
    }
    return TRUE;
}

BOOL CListCtrl::SetItemText(int item, int subItem, LPCSTR text) {
    return m_store && m_store->SetText(item, subItem, text ? text : "") ? TRUE : FALSE;
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
    std::string text;
    if (m_store) m_store->GetText(item, subItem, text);
    return text;
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
    return m_store && m_store->SetData(item, static_cast<LPARAM>(data)) ? TRUE : FALSE;
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
    return m_store ? static_cast<DWORD_PTR>(m_store->GetData(item)) : 0;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
    if (!m_store) return -1;
    if (flags & LVNI_SELECTED) {
        const int selected = m_store->GetSelected();
        return selected > start ? selected : -1;
    }
    const int next = start + 1;
    return next < m_store->GetCount() ? next : -1;
}

BOOL CListCtrl::DeleteAllItems() {
    if (!m_store || !m_store->DeleteAll()) return FALSE;
    // On the UI thread the display follows at once; elsewhere the posted publish resets it.
    if (OnUiThread()) {
        if (ListModel* model = GetModel()) model->Publish();
    }
    return TRUE;
}

BOOL CListCtrl::EnsureVisible(int item, BOOL partialOK) {
    return m_store && m_store->RequestEnsureVisible(item, partialOK != FALSE) ? TRUE : FALSE;
}

BOOL CListCtrl::WithItemData(int item, std::uint64_t generation, const std::function<void(LPARAM)>& f) const {
    return m_store && m_store->WithRow(item, generation, f) ? TRUE : FALSE;
}

BOOL CListCtrl::SetItemTextIf(int item, int subItem, LPCSTR text, std::uint64_t generation) {
    return m_store && m_store->SetTextIf(item, subItem, text ? text : "", generation) ? TRUE : FALSE;
}

CListCtrl::RowLock::RowLock(const CListCtrl& list) : m_store(list.m_store) {
    if (m_store) m_store->Lock();
}

CListCtrl::RowLock::~RowLock() {
    if (m_store) m_store->Unlock();
}

void CListCtrl::SendMouseNotification(UINT code) {
    NMHDR header{m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), code};
    if (m_notifyTarget) {
        LRESULT result = 0;
        m_notifyTarget->OnNotifyMsg(&header, &result);
        return;
    }
    if (CWnd* parent = GetParent()) {
        parent->SendMessage(WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }
}

LRESULT CListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case LVM_GETITEMCOUNT:
        return GetItemCount();
    case LVM_INSERTITEMA:
        return InsertItem(reinterpret_cast<const LVITEM*>(lParam));
    case LVM_SETITEMA:
        return SetItem(reinterpret_cast<const LVITEM*>(lParam));
    case LVM_GETITEMA:
        return GetItem(reinterpret_cast<LVITEM*>(lParam));
    case LVM_DELETEALLITEMS:
        return DeleteAllItems();
    case LVM_GETNEXTITEM:
        return GetNextItem(static_cast<int>(wParam), static_cast<UINT>(lParam));
    case LVM_ENSUREVISIBLE:
        return EnsureVisible(static_cast<int>(wParam), static_cast<BOOL>(lParam));
    case LVM_SETEXTENDEDLISTVIEWSTYLE:
        return SetExtendedStyle(static_cast<DWORD>(lParam), static_cast<DWORD>(wParam));
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}

}  // namespace win
