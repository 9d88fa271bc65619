// The list's cell painting: see ListCellDelegate.h.
#include "framework/ListCellDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace win {

namespace {

// Enough for every distinct text of the rows in view many times over; the
// cache starts again when full, which costs one frame of shaping.
constexpr int kCacheTexts = 4096;

}  // namespace

const QStaticText& ListCellDelegate::Prepared(const QString& text, const QStyleOptionViewItem& option,
                                              int width) const {
    if (m_cacheFont != option.font) {
        m_cache.clear();
        m_cacheFont = option.font;
    }
    Key key{text, width};
    auto found = m_cache.constFind(key);
    if (found != m_cache.constEnd()) return *found;
    if (m_cache.size() >= kCacheTexts) m_cache.clear();
    const QString shown = option.fontMetrics.elidedText(text, option.textElideMode, width);
    QStaticText prepared(shown);
    prepared.setTextFormat(Qt::PlainText);
    prepared.setPerformanceHint(QStaticText::AggressiveCaching);
    prepared.prepare(QTransform(), option.font);
    return *m_cache.insert(std::move(key), std::move(prepared));
}

void ListCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                                : QPalette::Inactive;
    if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));

    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        // The same margins as the style's own item text.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = option.rect.adjusted(margin, 0, -margin, 0);
        if (area.width() > 0) {
            const QStaticText& prepared = Prepared(text, option, area.width());
            const QSizeF size = prepared.size();
            const Qt::Alignment align =
                QStyle::visualAlignment(option.direction, index.data(Qt::TextAlignmentRole).value<Qt::Alignment>());
            qreal x = area.left();
            if (align & Qt::AlignRight) x = area.right() + 1 - size.width();
            else if (align & Qt::AlignHCenter) x = area.left() + (area.width() - size.width()) / 2;
            const qreal y = area.top() + (area.height() - size.height()) / 2;
            painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            painter->drawStaticText(QPointF(x, y), prepared);
        }
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

}  // namespace win
