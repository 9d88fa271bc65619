// Widget-test helpers on QTest.
#include "tests/support/qt/QtTestHelpers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QTest>
#include <QTimer>

namespace qvtest {

void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (timer.elapsed() < ms);
}

void HoverEnter(QWidget* widget) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(widget, &enter);
}

void HoverLeave(QWidget* widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

void SendKeys(QWidget* widget, const QKeySequence& keys) {
    for (int i = 0; i < keys.count(); ++i) {
        const QKeyCombination combo = keys[i];
        QTest::keyClick(widget, combo.key(), combo.keyboardModifiers());
    }
}

void WhenModal(std::function<void(QWidget*)> action, int timeoutMs) {
    auto* timer = new QTimer;
    auto* elapsed = new QElapsedTimer;
    elapsed->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, action, timeoutMs]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && elapsed->elapsed() < timeoutMs) return;
        timer->stop();
        timer->deleteLater();
        delete elapsed;
        if (modal) action(modal);
    });
    timer->start();
}

}  // namespace qvtest
