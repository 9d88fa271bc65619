// Sizes that the program gives in pixels were chosen for the 8-point dialog
// font of the platform the program was written for (average character width 6
// and digit width 6 pixels, line height 13 pixels at 96 dots per inch). Here
// they are converted the way dialog units are: by the ratio of the actual
// font's character widths (the wider of its average Latin letter and its
// digit, since columns mostly hold numbers) and of its line height to those of
// that font. The proportions between sizes stay, and text that fitted there
// fits at any font and scale. Top-level windows are also kept inside the
// available screen area.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace win {

class FontScale {
public:
    /// Horizontal factor from the 8-point reference font to font (at least 1/2).
    static double Horizontal(const QFont& font);
    /// Vertical factor from the 8-point reference font to font (at least 1/2).
    static double Vertical(const QFont& font);
    /// A width in reference pixels, in pixels of font (rounded up).
    static int Width(int pixels, const QFont& font);
    /// A height in reference pixels, in pixels of font (rounded up).
    static int Height(int pixels, const QFont& font);

    /// The width a list column needs to show text in full: text and the
    /// cell's margins on both sides, as the widget's style draws them.
    static int CellWidth(const QWidget* view, const QString& text);
    /// The width a header section needs to show text in full.
    static int HeaderWidth(const QWidget* header, const QString& text);

    /// size clamped to the available area.
    static QSize ClampSize(QSize size, const QRect& available);
    /// frame moved (not resized, unless larger) so that it lies inside available.
    static QRect PlaceInside(QRect frame, const QRect& available);
};

}  // namespace win
