// The application object: checks the operating system, starts and stops the
// socket library and wires the single document, the main frame and the packet
// list view together. Exactly one instance exists (theApp).
#pragma once

#include "framework/CWinApp.h"

class CCorvelApp : public win::CWinApp {
public:
    CCorvelApp();

    win::BOOL InitInstance() override;
    int ExitInstance() override;

    void OnAppAbout();
    const win::CommandTable* GetCommandTable() const override;

private:
    static const win::CommandEntry kCommands[];
};

extern CCorvelApp theApp;
