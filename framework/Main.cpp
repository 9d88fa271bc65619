// The process entry point: the Qt application, then the application object's
// start hook, event loop and exit hook (CWinApp::Run).
#include <QApplication>

#include "framework/CWinApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    win::CWinApp* app = win::AfxGetApp();
    if (!app) return 1;
    return app->Run();
}
