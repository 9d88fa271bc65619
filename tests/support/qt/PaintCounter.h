// Counts the paint events a widget receives, from its construction on.
#pragma once

#include <QObject>

class QWidget;

namespace qvtest {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget);
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qvtest
