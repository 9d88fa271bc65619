// Helpers for widget tests: run pending events, move the pointer onto and off
// a widget, press keys, and act inside a modal loop.
#pragma once

#include <QKeySequence>
#include <functional>

class QWidget;

namespace qvtest {

/// Processes pending events (also deferred deletions) for up to ms milliseconds.
void PumpEvents(int ms = 20);
/// Sends the pointer's enter (and hover) events to the widget, then leave.
void HoverEnter(QWidget* widget);
void HoverLeave(QWidget* widget);
/// Presses and releases the key sequence on the widget (its window must be active for shortcuts).
void SendKeys(QWidget* widget, const QKeySequence& keys);
/// Runs action once the next modal widget is active (from inside its loop); gives up after timeoutMs.
void WhenModal(std::function<void(QWidget* modal)> action, int timeoutMs = 3000);

}  // namespace qvtest
