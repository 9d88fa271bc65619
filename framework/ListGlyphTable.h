// Places the glyphs of short texts made only of digits, '.', '/' and ':'
// (times, addresses, ports, sizes) without shaping them. A flood of rows
// brings a few new such texts every frame, and shaping one the usual way runs
// through enough code that, done once per frame between everything else, it
// costs tens of microseconds.
//
// The table is made once per font from one layout of a text holding every
// pair of these characters; it is used only if that layout gave one glyph per
// character, each character always the same glyph and advance (no kerning, no
// ligature, no fallback font among them). A text placed from the table then
// has the glyphs and positions its own layout would have had.
#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QSizeF>
#include <QString>
#include <array>

namespace win {

class ListGlyphTable {
public:
    /// The glyphs of text in font, placed with the top left of the text's box
    /// at (0, 0), and the box's size as QStaticText gives it; false when the
    /// text is empty, holds another character, or the font failed the check.
    bool Place(const QString& text, const QFont& font, QGlyphRun& run, QSizeF& size);

private:
    static constexpr char16_t kFirst = u'.';  // '.', '/', '0'-'9', ':' follow each other
    static constexpr char16_t kLast = u':';
    static constexpr int kCount = kLast - kFirst + 1;

    void Build(const QFont& font);

    QFont m_font;
    bool m_built = false;
    bool m_usable = false;
    QRawFont m_raw;
    std::array<quint32, kCount> m_glyph{};
    std::array<qreal, kCount> m_advance{};
    qreal m_baseline = 0;
    qreal m_height = 0;
};

}  // namespace win
