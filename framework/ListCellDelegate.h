// Paints the cells of a report-mode list: one line of text, elided on the
// right when it does not fit, over the selection colour when its row is
// selected. A flood of rows repaints every visible cell once per frame, and
// the style's general item painting (a text layout per cell) costs several
// times what this does. Texts already shown in this font, cell size,
// alignment and colour come from a cache: each entry keeps the laid-out text
// and, for painters that only translate, the text already drawn onto a
// transparent image. Blending that image costs a fraction of blending its
// glyphs one by one, and gives the same pixels.
#pragma once

#include <QHash>
#include <QImage>
#include <QPoint>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace win {

class ListCellDelegate : public QStyledItemDelegate {
public:
    explicit ListCellDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Key {
        QString text;
        QSize area;  // the cell less its margins
        int align;   // horizontal alignment
        QRgb colour;
        bool operator==(const Key& other) const {
            return area == other.area && align == other.align && colour == other.colour && text == other.text;
        }
    };
    friend size_t qHash(const Key& key, size_t seed) {
        return qHashMulti(seed, key.text, key.area.width(), key.area.height(), key.align, key.colour);
    }
    struct Entry {
        QStaticText text;
        QPointF at;      // where the text starts, from the area's top left
        QImage image;    // the text drawn, made on first use by a translating painter
        QPoint imageAt;  // where the image goes, from the area's top left
    };

    /// The cache entry for a cell, made now if new.
    Entry& Prepared(Key key, const QStyleOptionViewItem& option) const;
    static void DrawImage(Entry& entry, const QFont& font);

    mutable QHash<Key, Entry> m_cache;
    mutable QFont m_cacheFont;  // the cache holds texts laid out in this font
};

}  // namespace win
