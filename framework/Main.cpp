// The process entry point: --help and --version answered on the terminal
// before anything needs a display, then the Qt application, the application
// object's start hook, event loop and exit hook (CWinApp::Run).
#include "framework/CWinApp.h"
#include "framework/UiApplication.h"

int main(int argc, char** argv) {
    win::CWinApp* app = win::AfxGetApp();
    if (!app) return 1;
    int exitCode = 0;
    if (app->AnswerOnTerminal(argc, argv, exitCode)) return exitCode;
    win::UiApplication application(argc, argv);
    return app->Run();
}
