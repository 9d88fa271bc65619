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

// The whole-number factor by which the painter scales onto whole device
// pixels (1 on most screens, 2 on a high-DPI one), or 0 when its transform
// does anything else: a cell's image is then drawn 1:1 onto device pixels.
int ImageScale(const QPainter& painter) {
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || device.m11() != device.m22()) return 0;
    const qreal scale = device.m11();
    if (scale < 1 || scale > 8 || scale != std::floor(scale)) return 0;
    if (device.dx() != std::floor(device.dx()) || device.dy() != std::floor(device.dy())) return 0;
    return static_cast<int>(scale);
}

}  // namespace

ListCellDelegate::Entry& ListCellDelegate::Prepared(Key key, const QStyleOptionViewItem& option) const {
    if (m_cacheFont != option.font) {
        m_cache.clear();
        m_cacheFont = option.font;
    }
    auto found = m_cache.find(key);
    if (found != m_cache.end()) return *found;
    if (m_cache.size() >= kCacheTexts) m_cache.clear();
    const QSize area(key.cell.width() - 2 * key.margin, key.cell.height());
    Entry entry;
    QSizeF size;
    // Times, addresses and numbers that fit are placed from the glyph table.
    if (!m_glyphs.Place(key.text, option.font, entry.glyphs, size) || size.width() > area.width()) {
        entry.glyphs = QGlyphRun();
        entry.text.setTextFormat(Qt::PlainText);
        entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
        // Laid out whole first: most texts fit, and measuring them for eliding
        // would lay them out once more.
        entry.text.setText(key.text);
        entry.text.prepare(QTransform(), option.font);
        if (entry.text.size().width() > area.width()) {
            entry.text.setText(option.fontMetrics.elidedText(key.text, option.textElideMode, area.width()));
            entry.text.prepare(QTransform(), option.font);
        }
        size = entry.text.size();
    }
    entry.size = size;
    qreal x = key.margin;
    if (key.align & Qt::AlignRight) x += area.width() - size.width();
    else if (key.align & Qt::AlignHCenter) x += (area.width() - size.width()) / 2;
    entry.at = QPointF(x, (area.height() - size.height()) / 2);
    return *m_cache.insert(std::move(key), std::move(entry));
}

void ListCellDelegate::DrawImage(Entry& entry, const Key& key, const QFont& font) {
    // In device pixels, which the image's pixel ratio maps back to the cell's.
    const int scale = std::max(1, key.scale);
    QImage image;
    if (key.background != 0) {
        // The whole cell: its background, then the text on it.
        entry.imageAt = QPoint(0, 0);
        image = QImage(key.cell * scale, QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        image.fill(QColor::fromRgba(key.background));
    } else {
        // The text alone, with room for glyphs reaching past its box.
        const int pad = std::max(2, QFontMetrics(font).height() / 2);
        const QSizeF size = entry.size;
        entry.imageAt = QPoint(static_cast<int>(std::floor(entry.at.x())) - pad,
                               static_cast<int>(std::floor(entry.at.y())) - pad);
        const QSize box(static_cast<int>(std::ceil(size.width())) + 2 * pad + 1,
                        static_cast<int>(std::ceil(size.height())) + 2 * pad + 1);
        image = QImage(box * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
    }
    // The text keeps its fractional position inside the image, so its glyphs
    // land on the same pixels as when drawn directly at an integer offset.
    QPainter onImage(&image);
    onImage.setFont(font);
    onImage.setPen(QColor::fromRgba(key.colour));
    DrawText(onImage, entry.at - entry.imageAt, entry);
    onImage.end();
    entry.image = std::move(image);
}

void ListCellDelegate::DrawText(QPainter& painter, const QPointF& at, const Entry& entry) {
    if (entry.glyphs.isEmpty()) painter.drawStaticText(at, entry.text);
    else painter.drawGlyphRun(at, entry.glyphs);
}

void ListCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                                : QPalette::Inactive;
    // The cell's whole background is ours when the view passed a solid one.
    const QBrush background = selected ? option.palette.brush(group, QPalette::Highlight) : option.backgroundBrush;
    const bool whole = option.backgroundBrush.style() == Qt::SolidPattern && background.style() == Qt::SolidPattern &&
                       background.color().alpha() == 255;
    const int scale = ImageScale(*painter);
    const bool copies = scale > 0 && painter->compositionMode() == QPainter::CompositionMode_SourceOver;

    // The list view passes the text it read for the cell.
    const QString text = (option.features & QStyleOptionViewItem::HasDisplay) ? option.text
                                                                             : index.data(Qt::DisplayRole).toString();
    // The same margins as the style's own item text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    if (text.isEmpty() || option.rect.width() <= 2 * margin) {
        if (whole || selected) painter->fillRect(option.rect, background);
    } else {
        const Qt::Alignment align =
            QStyle::visualAlignment(option.direction, index.data(Qt::TextAlignmentRole).value<Qt::Alignment>());
        const QColor colour = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        const bool opaque = whole && copies;
        const Key key{text,
                      option.rect.size(),
                      margin,
                      static_cast<int>(align & Qt::AlignHorizontal_Mask),
                      colour.rgba(),
                      opaque ? background.color().rgba() : 0,
                      scale};
        Entry& entry = Prepared(key, option);
        // A text seen once is drawn directly: making its image costs more than
        // that, and many texts (times, sizes) are never seen again.
        const bool fromImage = copies && (!entry.image.isNull() || entry.uses > 0);
        ++entry.uses;
        if (!(fromImage && opaque) && (whole || selected)) painter->fillRect(option.rect, background);
        if (fromImage) {
            if (entry.image.isNull()) DrawImage(entry, key, option.font);
            painter->drawImage(option.rect.topLeft() + entry.imageAt, entry.image);
        } else {
            painter->setPen(colour);
            DrawText(*painter, option.rect.topLeft() + entry.at, entry);
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
