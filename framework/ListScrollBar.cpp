// The list's quiet scroll bar: see ListScrollBar.h.
#include "framework/ListScrollBar.h"

#include <QMetaObject>
#include <QStyle>
#include <QStyleOptionSlider>

namespace win {

ListScrollBar::ListScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {}

ListScrollBar::Look ListScrollBar::CurrentLook() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    Look look;
    look.slider = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    look.atMinimum = value() == minimum();
    look.atMaximum = value() == maximum();
    return look;
}

void ListScrollBar::sliderChange(SliderChange change) {
    // Hover and press repaint through their own events.
    if (!m_hasPainted) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (m_checkPosted) return;
    m_checkPosted = true;
    QMetaObject::invokeMethod(this, [this] { CheckLook(); }, Qt::QueuedConnection);
}

void ListScrollBar::CheckLook() {
    m_checkPosted = false;
    if (CurrentLook() != m_painted) update();
}

void ListScrollBar::paintEvent(QPaintEvent* event) {
    m_painted = CurrentLook();
    m_hasPainted = true;
    QScrollBar::paintEvent(event);
}

}  // namespace win
