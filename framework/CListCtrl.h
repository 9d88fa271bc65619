// The list-view control in report mode: columns, rows of short texts, one
// pointer-sized item-data value per row, single full-row selection.
//
// Threads. Every row operation (InsertItem, SetItem, SetItemText, SetItemData,
// GetItemData, GetItemText, GetItemCount, GetNextItem, DeleteAllItems,
// EnsureVisible) may be called from any thread. It is carried out at once on
// the control's row store under the store's lock, serialised with the UI
// thread's own operations, so that when it returns every later operation from
// any thread sees its effect. The display catches up on the next turn of the
// UI thread's event loop, which publishes all new rows and changed texts in one
// step; no operation waits for the UI thread. Column and style operations
// (InsertColumn, SetExtendedStyle, ModifyStyle) belong to the UI thread.
//
// Row indexes are valid until the next DeleteAllItems: an operation on a row
// that no longer exists fails (-1, FALSE or 0), and so does every operation
// before the window is created or after it is destroyed.
//
// Reading a row safely against a clear on another thread: GetItemCount(gen)
// returns the count with the generation it belongs to; WithItemData(row, gen, f)
// runs f with the row's item data while holding the store lock, so that no
// DeleteAllItems (and no caller freeing what the rows own right before it) can
// complete while f runs; SetItemTextIf(row, col, text, gen) sets a cell only if
// no DeleteAllItems happened since gen was read. A resolution pass copies what
// it needs out of the record inside f, then works without the lock.
//
// Several operations that must act as one, such as a clear that first reads
// every row's item data to free what it owns and then removes the rows, run
// inside a CListCtrl::RowLock: other threads' row operations wait until it
// ends, as they would wait for the UI thread to be between messages.
//
// Following new rows (UI thread): EnsureVisible is a request to follow the
// newest row. It is carried out on the next publish only while the list
// follows its end (GetFollow); the person's moving away from the end stops
// following and coming back to it starts it again (see ListTableView), and
// SetFollow sets it.
//
// A row filter (UI thread) hides the rows whose item data it rejects: they
// stay in the control, and every row operation still addresses all rows by
// their index; GetShownCount counts the rows shown. The filter is called on
// the UI thread only, for the rows held when it is set and for each new row
// when it is published, so it may read what the item data points to as long
// as that is freed on the UI thread only.
//
// Mouse notifications: a left click (also on empty space) sends NM_CLICK, a
// double-click NM_DBLCLK, both after the selection has been updated, as
// WM_NOTIFY to the parent window, or to the notification target when one is set
// (the list view reflects them to itself that way). Keyboard selection changes
// send nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/CWnd.h"

namespace win {

class ListModel;
class ListRowStore;
class ListTableView;

/// The pointer-sized unsigned value of item data.
using DWORD_PTR = UINT_PTR;

// List styles.
inline constexpr DWORD LVS_REPORT = 0x0001;
inline constexpr DWORD LVS_SINGLESEL = 0x0004;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
inline constexpr DWORD LVS_EX_GRIDLINES = 0x0001;
inline constexpr DWORD LVS_EX_HEADERDRAGDROP = 0x0010;
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x0020;
inline constexpr DWORD LVS_EX_TWOCLICKACTIVATE = 0x0080;

// Column formats.
inline constexpr int LVCFMT_LEFT = 0x0000;
inline constexpr int LVCFMT_RIGHT = 0x0001;

// Item fields.
inline constexpr UINT LVIF_TEXT = 0x0001;
inline constexpr UINT LVIF_IMAGE = 0x0002;
inline constexpr UINT LVIF_PARAM = 0x0004;
inline constexpr UINT LVIF_STATE = 0x0008;

// GetNextItem flags.
inline constexpr UINT LVNI_ALL = 0x0000;
inline constexpr UINT LVNI_SELECTED = 0x0002;

// Messages, for callers that send them (SendMessage goes through the UI thread).
inline constexpr UINT LVM_FIRST = 0x1000;
inline constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
inline constexpr UINT LVM_GETITEMA = LVM_FIRST + 5;
inline constexpr UINT LVM_SETITEMA = LVM_FIRST + 6;
inline constexpr UINT LVM_INSERTITEMA = LVM_FIRST + 7;
inline constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
inline constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
inline constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
inline constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;

struct LVITEMA {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};
using LVITEM = LVITEMA;

class CListCtrl : public CWnd {
public:
    CListCtrl();
    ~CListCtrl() override;

    /// Creates the control as a child window (LVS_ style bits in style).
    virtual BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // UI thread.
    int InsertColumn(int column, LPCSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
    /// Sets the extended styles; mask 0 means all bits. Returns the old styles.
    DWORD SetExtendedStyle(DWORD exStyle, DWORD mask = 0);
    DWORD GetExtendedStyle() const { return m_exStyle; }
    int GetColumnCount() const;

    /// Keeps new rows in view (TRUE: scrolls to the last row now) or stops.
    void SetFollow(BOOL follow);
    BOOL GetFollow() const;
    /// Shows only rows whose item data filter accepts; an empty one shows all.
    void SetRowFilter(std::function<bool(LPARAM)> filter);
    /// Rows shown: all rows, or those the row filter accepts, as far as published.
    int GetShownCount() const;

    // Any thread.
    /// Every row, shown or hidden by the row filter.
    int GetItemCount() const;
    /// The count and its generation (see the file comment).
    int GetItemCount(std::uint64_t& generation) const;
    /// Inserts a row (LVIF_TEXT and LVIF_PARAM are honoured; iItem past the end
    /// appends); returns its index or -1.
    int InsertItem(const LVITEM* item);
    int InsertItem(int item, LPCSTR text);
    /// Sets the text (LVIF_TEXT, column iSubItem) and/or item data (LVIF_PARAM).
    BOOL SetItem(const LVITEM* item);
    /// Reads the text (into pszText, cchTextMax) and/or item data of a row.
    BOOL GetItem(LVITEM* item) const;
    BOOL SetItemText(int item, int subItem, LPCSTR text);
    std::string GetItemText(int item, int subItem) const;
    BOOL SetItemData(int item, DWORD_PTR data);
    DWORD_PTR GetItemData(int item) const;
    /// The first row after start with the flags (LVNI_SELECTED), else -1.
    int GetNextItem(int start, UINT flags) const;
    BOOL DeleteAllItems();
    /// Scrolls the row into view on the UI thread's next turn.
    BOOL EnsureVisible(int item, BOOL partialOK);

    /// Runs f with the row's item data under the store lock if the row still
    /// exists in that generation; false otherwise. f must not call the control.
    BOOL WithItemData(int item, std::uint64_t generation, const std::function<void(LPARAM)>& f) const;
    /// Sets a cell only if no DeleteAllItems happened since generation was read.
    BOOL SetItemTextIf(int item, int subItem, LPCSTR text, std::uint64_t generation);

    /// Holds off other threads' row operations for its lifetime (see above).
    class RowLock {
    public:
        explicit RowLock(const CListCtrl& list);
        ~RowLock();
        RowLock(const RowLock&) = delete;
        RowLock& operator=(const RowLock&) = delete;

    private:
        std::shared_ptr<ListRowStore> m_store;
    };

    /// Where NM_CLICK and NM_DBLCLK go instead of the parent (null: the parent).
    void SetNotifyTarget(CCmdTarget* target) { m_notifyTarget = target; }

    /// The Qt model and widget (framework and tests), null without a window.
    ListModel* GetModel() const;
    ListTableView* GetTableView() const;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;
    int OnCreate(LPCREATESTRUCT cs) override;
    void StyleChanged(DWORD oldStyle, DWORD newStyle) override;

private:
    friend class CListView;  // hosts the list's widget in its own window
    void ApplyStyles();
    void SendMouseNotification(UINT code);
    bool OnUiThread() const;

    // Set on the UI thread at creation, before any other thread can use the
    // control; it outlives the widget, so late calls see a closed store.
    std::shared_ptr<ListRowStore> m_store;
    DWORD m_exStyle = 0;
    CCmdTarget* m_notifyTarget = nullptr;
};

}  // namespace win
