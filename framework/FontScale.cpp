// Conversion of sizes from the 8-point reference font: see FontScale.h.
#include "framework/FontScale.h"

#include <QFontMetricsF>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace win {
namespace {

constexpr double kReferenceCharWidth = 6.0;   // average Latin letter, and each digit
constexpr double kReferenceLineHeight = 13.0;

}  // namespace

double FontScale::Horizontal(const QFont& font) {
    const QFontMetricsF metrics(font);
    const double letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
    double digit = 0;
    for (char c = '0'; c <= '9'; ++c) digit = std::max(digit, metrics.horizontalAdvance(QChar(c)));
    return std::max(0.5, std::max(letters, digit) / kReferenceCharWidth);
}

double FontScale::Vertical(const QFont& font) {
    const QFontMetricsF metrics(font);
    return std::max(0.5, metrics.lineSpacing() / kReferenceLineHeight);
}

int FontScale::Width(int pixels, const QFont& font) {
    return static_cast<int>(std::ceil(pixels * Horizontal(font) - 1e-6));
}

int FontScale::Height(int pixels, const QFont& font) {
    return static_cast<int>(std::ceil(pixels * Vertical(font) - 1e-6));
}

int FontScale::CellWidth(const QWidget* view, const QString& text) {
    // QStyledItemDelegate draws the text inside the focus-frame margin plus one pixel on each side.
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QFontMetricsF metrics(view->font());
    return static_cast<int>(std::ceil(metrics.horizontalAdvance(text))) + 2 * margin;
}

int FontScale::HeaderWidth(const QWidget* header, const QString& text) {
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const QFontMetricsF metrics(header->font());
    // The header draws its label inside the margin on each side, and the
    // section's own frame takes a pixel on each side.
    return static_cast<int>(std::ceil(metrics.horizontalAdvance(text))) + 2 * margin + 2;
}

QSize FontScale::ClampSize(QSize size, const QRect& available) {
    if (!available.isValid()) return size;
    return QSize(std::min(size.width(), available.width()), std::min(size.height(), available.height()));
}

QRect FontScale::PlaceInside(QRect frame, const QRect& available) {
    if (!available.isValid()) return frame;
    frame.setSize(ClampSize(frame.size(), available));
    if (frame.right() > available.right()) frame.moveRight(available.right());
    if (frame.bottom() > available.bottom()) frame.moveBottom(available.bottom());
    if (frame.left() < available.left()) frame.moveLeft(available.left());
    if (frame.top() < available.top()) frame.moveTop(available.top());
    return frame;
}

}  // namespace win
