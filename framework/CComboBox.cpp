// The combo box on QComboBox.
#include "framework/CComboBox.h"

#include <QComboBox>

namespace win {
namespace {
QComboBox* Box(const CWnd* wnd) { return qobject_cast<QComboBox*>(wnd->GetWidget()); }
}  // namespace

QWidget* CComboBox::CreateWidget(const CREATESTRUCT&, QWidget* parent) { return new QComboBox(parent); }

int CComboBox::AddString(LPCSTR text) {
    QComboBox* box = Box(this);
    if (!box) return CB_ERR;
    const QString s = QString::fromLocal8Bit(text ? text : "");
    int index = box->count();
    if (GetStyle() & CBS_SORT) {
        index = 0;
        while (index < box->count() && QString::compare(box->itemText(index), s, Qt::CaseInsensitive) <= 0) ++index;
    }
    const int selected = box->currentIndex();
    box->insertItem(index, s);
    // Inserting must not select anything that was not selected.
    box->setCurrentIndex(selected < 0 ? -1 : (selected >= index ? selected + 1 : selected));
    return index;
}

int CComboBox::SetCurSel(int index) {
    QComboBox* box = Box(this);
    if (!box) return CB_ERR;
    if (index < 0 || index >= box->count()) {
        box->setCurrentIndex(-1);
        return CB_ERR;
    }
    box->setCurrentIndex(index);
    return index;
}

int CComboBox::GetCurSel() const {
    QComboBox* box = Box(this);
    return box && box->currentIndex() >= 0 ? box->currentIndex() : CB_ERR;
}

void CComboBox::GetLBText(int index, std::string& text) const {
    QComboBox* box = Box(this);
    text = box && index >= 0 && index < box->count() ? box->itemText(index).toLocal8Bit().toStdString() : "";
}

int CComboBox::GetCount() const {
    QComboBox* box = Box(this);
    return box ? box->count() : 0;
}

void CComboBox::ResetContent() {
    if (QComboBox* box = Box(this)) box->clear();
}

}  // namespace win
