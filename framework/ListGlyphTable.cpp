// Glyphs of digit texts without shaping: see ListGlyphTable.h.
#include "framework/ListGlyphTable.h"

#include <QList>
#include <QStaticText>
#include <QTextLayout>
#include <QTextOption>

namespace win {

void ListGlyphTable::Build(const QFont& font) {
    m_font = font;
    m_built = true;
    m_usable = false;
    // Lines drawn with the text are not in the glyphs.
    if (font.underline() || font.overline() || font.strikeOut()) return;

    // Every ordered pair of the characters, each one followed by each other.
    QString check;
    for (int first = 0; first < kCount; ++first) {
        for (int second = 0; second < kCount; ++second) {
            check += QChar(static_cast<char16_t>(kFirst + first));
            check += QChar(static_cast<char16_t>(kFirst + second));
        }
    }
    // Laid out as QStaticText lays out one line.
    QTextLayout layout(check, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return;
    }
    line.setLeadingIncluded(true);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();

    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1) return;
    const QList<quint32> glyphs = runs[0].glyphIndexes();
    const QList<QPointF> positions = runs[0].positions();
    if (glyphs.size() != check.size() || positions.size() != check.size()) return;

    std::array<bool, kCount> seen{};
    for (qsizetype i = 0; i < check.size(); ++i) {
        const int c = check[i].unicode() - kFirst;
        if (positions[i].y() != positions[0].y()) return;
        // The last glyph's advance is known from its other places in the text.
        const bool last = i + 1 == check.size();
        const qreal advance = last ? m_advance[c] : positions[i + 1].x() - positions[i].x();
        if (!seen[c]) {
            if (last || glyphs[i] == 0) return;
            seen[c] = true;
            m_glyph[c] = glyphs[i];
            m_advance[c] = advance;
        } else if (m_glyph[c] != glyphs[i] || m_advance[c] != advance) {
            return;
        }
    }
    QStaticText probe(QStringLiteral("0"));
    probe.setTextFormat(Qt::PlainText);
    probe.prepare(QTransform(), font);
    m_raw = runs[0].rawFont();
    m_baseline = positions[0].y();
    m_height = probe.size().height();
    m_usable = m_raw.isValid() && positions[0].x() == 0;
}

bool ListGlyphTable::Place(const QString& text, const QFont& font, QGlyphRun& run, QSizeF& size) {
    if (text.isEmpty()) return false;
    for (const QChar c : text) {
        if (c.unicode() < kFirst || c.unicode() > kLast) return false;
    }
    if (!m_built || font != m_font) Build(font);
    if (!m_usable) return false;
    QList<quint32> glyphs(text.size());
    QList<QPointF> positions(text.size());
    qreal x = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int c = text[i].unicode() - kFirst;
        glyphs[i] = m_glyph[c];
        positions[i] = QPointF(x, m_baseline);
        x += m_advance[c];
    }
    run = QGlyphRun();
    run.setRawFont(m_raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    size = QSizeF(x, m_height);
    return true;
}

}  // namespace win
