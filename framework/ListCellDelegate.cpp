// The list's cell painting: see ListCellDelegate.h.
#include "framework/ListCellDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <cmath>

namespace win {

namespace {

// Enough for every distinct cell in view several times over (a few MB of
// images at most); the cache starts again when full, which costs one frame of
// shaping and drawing.
constexpr int kCacheTexts = 1024;

}  // namespace

ListCellDelegate::Entry& ListCellDelegate::Prepared(Key key, const QStyleOptionViewItem& option) const {
    if (m_cacheFont != option.font) {
        m_cache.clear();
        m_cacheFont = option.font;
    }
    auto found = m_cache.find(key);
    if (found != m_cache.end()) return *found;
    if (m_cache.size() >= kCacheTexts) m_cache.clear();
    Entry entry;
    entry.text = QStaticText(option.fontMetrics.elidedText(key.text, option.textElideMode, key.area.width()));
    entry.text.setTextFormat(Qt::PlainText);
    entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
    entry.text.prepare(QTransform(), option.font);
    const QSizeF size = entry.text.size();
    qreal x = 0;
    if (key.align & Qt::AlignRight) x = key.area.width() - size.width();
    else if (key.align & Qt::AlignHCenter) x = (key.area.width() - size.width()) / 2;
    entry.at = QPointF(x, (key.area.height() - size.height()) / 2);
    return *m_cache.insert(std::move(key), std::move(entry));
}

void ListCellDelegate::DrawImage(Entry& entry, const QFont& font) {
    // Room for glyphs reaching past the text's box. The text keeps its
    // fractional position inside the image, so its glyphs land on the same
    // pixels as when drawn directly at an integer offset from it.
    const QFontMetrics metrics(font);
    const int pad = std::max(2, metrics.height() / 2);
    const QSizeF size = entry.text.size();
    const QPoint whole(static_cast<int>(std::floor(entry.at.x())), static_cast<int>(std::floor(entry.at.y())));
    entry.imageAt = whole - QPoint(pad, pad);
    QImage image(static_cast<int>(std::ceil(size.width())) + 2 * pad + 1,
                 static_cast<int>(std::ceil(size.height())) + 2 * pad + 1, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    entry.image = std::move(image);
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
            const Qt::Alignment align =
                QStyle::visualAlignment(option.direction, index.data(Qt::TextAlignmentRole).value<Qt::Alignment>());
            const QColor colour = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
            Entry& entry = Prepared(Key{text, area.size(), static_cast<int>(align & Qt::AlignHorizontal_Mask),
                                        colour.rgba()},
                                    option);
            if (painter->deviceTransform().type() <= QTransform::TxTranslate &&
                painter->compositionMode() == QPainter::CompositionMode_SourceOver) {
                if (entry.image.isNull()) {
                    DrawImage(entry, option.font);
                    QPainter onImage(&entry.image);
                    onImage.setFont(option.font);
                    onImage.setPen(colour);
                    onImage.drawStaticText(entry.at - entry.imageAt, entry.text);
                }
                painter->drawImage(area.topLeft() + entry.imageAt, entry.image);
            } else {
                painter->setPen(colour);
                painter->drawStaticText(area.topLeft() + entry.at, entry.text);
            }
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
