// Tests of placing digit texts from the glyph table: the same glyphs, places,
// box and pixels as the text laid out and drawn the usual way, in several
// fonts and at whole and fractional device pixel ratios; other texts and
// fonts are declined.
#include "framework/ListGlyphTable.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStaticText>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <string>

namespace win {
namespace {

// Draws the text both ways on white images and says whether they match.
bool DrawsAlike(const QGlyphRun& run, const QString& text, const QFont& font, qreal ratio) {
    QImage placed(200 * ratio, 40 * ratio, QImage::Format_ARGB32_Premultiplied);
    placed.setDevicePixelRatio(ratio);
    placed.fill(Qt::white);
    QImage laid = placed;
    const QPointF at(3.5, 6.5);  // a half pixel, as in a cell of odd height
    {
        QPainter painter(&placed);
        painter.setPen(Qt::black);
        painter.drawGlyphRun(at, run);
    }
    {
        QStaticText prepared(text);
        prepared.setTextFormat(Qt::PlainText);
        prepared.prepare(QTransform(), font);
        QPainter painter(&laid);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawStaticText(at, prepared);
    }
    return placed == laid;
}

TEST(ListGlyphTableTest, PlacesDigitTextsAsTheirOwnLayoutDoes) {
    QFont bold = QGuiApplication::font();
    bold.setBold(true);
    QFont large = QGuiApplication::font();
    large.setPixelSize(23);
    QFont spaced = QGuiApplication::font();
    spaced.setLetterSpacing(QFont::AbsoluteSpacing, 1.25);
    for (const QFont& font : {QGuiApplication::font(), bold, large, spaced}) {
        ListGlyphTable table;
        for (const QString text : {"00:02:54:307", "127.0.0.1", "65535", "10/12", ":"}) {
            const std::string what = font.toString().toStdString() + " " + text.toStdString();
            QGlyphRun run;
            QSizeF size;
            ASSERT_TRUE(table.Place(text, font, run, size)) << what;

            QTextLayout layout(text, font);
            layout.beginLayout();
            QTextLine line = layout.createLine();
            line.setLeadingIncluded(true);
            line.setPosition(QPointF(0, 0));
            layout.endLayout();
            const QList<QGlyphRun> runs = layout.glyphRuns();
            ASSERT_EQ(runs.size(), 1) << what;
            EXPECT_EQ(run.glyphIndexes(), runs[0].glyphIndexes()) << what;
            EXPECT_EQ(run.positions(), runs[0].positions()) << what;

            QStaticText prepared(text);
            prepared.setTextFormat(Qt::PlainText);
            prepared.prepare(QTransform(), font);
            EXPECT_EQ(size, prepared.size()) << what;

            EXPECT_TRUE(DrawsAlike(run, text, font, 1)) << what;
            EXPECT_TRUE(DrawsAlike(run, text, font, 2)) << what;
            EXPECT_TRUE(DrawsAlike(run, text, font, 1.5)) << what;
            EXPECT_TRUE(DrawsAlike(run, text, font, 1.25)) << what;
        }
    }
}

TEST(ListGlyphTableTest, DeclinesOtherTextsAndDecoratedFonts) {
    ListGlyphTable table;
    QGlyphRun run;
    QSizeF size;
    for (const QString text : {"", "UDP", "12 34", "1,5", "fe80::1", "0-9"}) {
        EXPECT_FALSE(table.Place(text, QGuiApplication::font(), run, size)) << text.toStdString();
    }
    QFont underlined = QGuiApplication::font();
    underlined.setUnderline(true);
    EXPECT_FALSE(table.Place("80", underlined, run, size));
    // The table follows the font it is asked for.
    QGlyphRun small;
    QGlyphRun large;
    QFont bigger = QGuiApplication::font();
    bigger.setPixelSize(40);
    ASSERT_TRUE(table.Place("80", QGuiApplication::font(), small, size));
    ASSERT_TRUE(table.Place("80", bigger, large, size));
    EXPECT_GT(large.positions()[1].x(), small.positions()[1].x());
}

}  // namespace
}  // namespace win
