// The Qt application of the program's UI thread. It delivers every event as
// QApplication does, except that an event whose handling runs out of memory
// (std::bad_alloc) is dropped instead of ending the process: the window, its
// rows and the capture stay.
#pragma once

#include <QApplication>

namespace win {

class UiApplication : public QApplication {
public:
    UiApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace win
