// The combo box: a drop-down list (CBS_DROPDOWNLIST) whose entries are kept in
// case-insensitive text order when CBS_SORT is set. Bound to a dialog's
// template control with DDX_Control.
#pragma once

#include <string>

#include "framework/CWnd.h"

namespace win {

inline constexpr int CB_ERR = -1;

class CComboBox : public CWnd {
public:
    /// The position where the text went (its sorted place with CBS_SORT); CB_ERR without a window.
    int AddString(LPCSTR text);
    int AddString(const std::string& text) { return AddString(text.c_str()); }
    /// Selects the entry (-1 clears the selection); CB_ERR when out of range.
    int SetCurSel(int index);
    int GetCurSel() const;
    void GetLBText(int index, std::string& text) const;
    int GetCount() const;
    void ResetContent();

protected:
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;
};

}  // namespace win
