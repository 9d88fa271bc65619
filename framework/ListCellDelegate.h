// Paints the cells of a report-mode list: one line of text, elided on the
// right when it does not fit, over the selection colour when its row is
// selected. A flood of rows repaints every visible cell once per frame, and
// the style's general item painting (a text layout per cell) costs several
// times what this does. Texts already shown in this font, cell size,
// alignment and colours come from a cache: each entry keeps the laid-out text
// and, once the text is painted a second time by a painter that only moves by
// whole device pixels and scales by a whole factor (a high-DPI screen), the
// cell already drawn onto an image in device pixels. Copying that image costs
// a fraction of filling the cell and blending its glyphs one by one, and
// gives the same pixels.
//
// When the option carries a solid background brush (the list view passes its
// own), the delegate paints the whole cell, background included, and the view
// fills only what no cell covers; otherwise it paints only the selection and
// the text over what is there.
//
// Times, addresses and numbers are placed from a glyph table instead of being
// laid out (ListGlyphTable), with the same result.
#pragma once

#include <QHash>
#include <QImage>
#include <QPoint>
#include <QStaticText>
#include <QStyledItemDelegate>

#include "framework/ListGlyphTable.h"

namespace win {

class ListCellDelegate : public QStyledItemDelegate {
public:
    explicit ListCellDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Key {
        QString text;
        QSize cell;
        int margin;  // left and right, inside the cell
        int align;   // horizontal alignment
        QRgb colour;
        QRgb background;  // 0 (transparent) when the image holds the text only
        int scale;        // device pixels per cell pixel of the image; 0 when there is none
        bool operator==(const Key& other) const {
            return cell == other.cell && margin == other.margin && align == other.align && colour == other.colour &&
                   background == other.background && scale == other.scale && text == other.text;
        }
    };
    friend size_t qHash(const Key& key, size_t seed) {
        return qHashMulti(seed, key.text, key.cell.width(), key.cell.height(), key.margin, key.align, key.colour,
                          key.background, key.scale);
    }
    struct Entry {
        QGlyphRun glyphs;  // the text placed from the glyph table, when it could be
        QStaticText text;  // otherwise the text laid out
        QSizeF size;       // the text's box
        QPointF at;        // where the text starts, from the cell's top left
        QImage image;      // the drawing, made on first use by a translating painter
        QPoint imageAt;    // where the image goes, from the cell's top left
        int uses = 0;      // cells painted with it so far
    };

    /// The cache entry for a cell, made now if new.
    Entry& Prepared(Key key, const QStyleOptionViewItem& option) const;
    /// Draws the entry's image: the whole cell on its background, or the text alone.
    static void DrawImage(Entry& entry, const Key& key, const QFont& font);
    /// Draws the entry's text with the top left of its box at the point.
    static void DrawText(QPainter& painter, const QPointF& at, const Entry& entry);

    mutable QHash<Key, Entry> m_cache;
    mutable QFont m_cacheFont;  // the cache holds texts laid out in this font
    mutable ListGlyphTable m_glyphs;
};

}  // namespace win
