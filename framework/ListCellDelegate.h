// Paints the cells of a report-mode list: one line of text, elided on the
// right when it does not fit, over the selection colour when its row is
// selected. A flood of rows repaints every visible cell once per frame, and
// the style's general item painting (a text layout per cell) costs several
// times what this does: texts already shown in this font and width are drawn
// from a cache of laid-out static texts, so only new texts are shaped.
#pragma once

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace win {

class ListCellDelegate : public QStyledItemDelegate {
public:
    explicit ListCellDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    /// The laid-out text for a cell width, from the cache or made now.
    const QStaticText& Prepared(const QString& text, const QStyleOptionViewItem& option, int width) const;

    struct Key {
        QString text;
        int width;
        bool operator==(const Key& other) const { return width == other.width && text == other.text; }
    };
    friend size_t qHash(const Key& key, size_t seed) { return qHashMulti(seed, key.text, key.width); }

    mutable QHash<Key, QStaticText> m_cache;
    mutable QFont m_cacheFont;  // the cache holds texts laid out in this font
};

}  // namespace win
