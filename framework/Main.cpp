// The process entry point: the Qt application, then the application object's
// start hook, event loop and exit hook (CWinApp::Run).
#include "framework/CWinApp.h"
#include "framework/UiApplication.h"

int main(int argc, char** argv) {
    win::UiApplication application(argc, argv);
    win::CWinApp* app = win::AfxGetApp();
    if (!app) return 1;
    return app->Run();
}
