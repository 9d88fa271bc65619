// The program's Qt application: see UiApplication.h.
#include "framework/UiApplication.h"

#include <new>

namespace win {

UiApplication::UiApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool UiApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace win
