#include "tests/support/qt/PaintCounter.h"

#include <QEvent>
#include <QWidget>

namespace qvtest {

PaintCounter::PaintCounter(QWidget* widget) { widget->installEventFilter(this); }

bool PaintCounter::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
}

}  // namespace qvtest
