// The application object's start and exit hooks and its About command.
#include "app/CCorvelApp.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/ProgramResources.h"
#include "app/Resource.h"
#include "document/CCorvelDoc.h"
#include "framework/AfxMessageBox.h"
#include "framework/CSingleDocTemplate.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"
#include "ui/CCorvelView.h"

using namespace win;

CCorvelApp theApp;

const CommandEntry CCorvelApp::kCommands[] = {
    CommandHandler(ID_APP_ABOUT, &CCorvelApp::OnAppAbout),
    CommandHandler(ID_FILE_NEW, &CWinApp::OnFileNew),
    CommandHandler(ID_FILE_OPEN, &CWinApp::OnFileOpen),
    CommandHandler(ID_FILE_PRINT_SETUP, &CWinApp::OnFilePrintSetup),
};

const CommandTable* CCorvelApp::GetCommandTable() const {
    static const CommandTable table{kCommands, CWinApp::GetCommandTable()};
    return &table;
}

// No application name: the framework takes the title from string 57344.
CCorvelApp::CCorvelApp() { RegisterProgramResources(); }

BOOL CCorvelApp::InitInstance() {
    OSVERSIONINFOA osvi{};
    osvi.dwOSVersionInfoSize = 148;
    GetVersionExA(&osvi);
    // The capture socket needs an NT-family system of version 5 or later; on
    // anything older the program ends without a word.
    if (osvi.dwPlatformId != VER_PLATFORM_WIN32_NT || osvi.dwMajorVersion < 5) return FALSE;

    WSADATA wsaData;
    if (WSAStartup(0x0202, &wsaData) != 0) {
        AfxMessageBox("WSAStartup() failed");
        return FALSE;
    }

    AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, &CCorvelDoc::classCCorvelDoc, &CMainFrame::classCMainFrame,
                                          &CCorvelView::classCCorvelView));

    CCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);
    if (!ProcessShellCommand(cmdInfo)) return FALSE;

    m_pMainWnd->ShowWindow(SW_SHOW);
    m_pMainWnd->UpdateWindow();
    return TRUE;
}

// Runs after a failed start too, when the library may never have started; the
// clean-up's result is of no interest either way.
int CCorvelApp::ExitInstance() {
    WSACleanup();
    return CWinApp::ExitInstance();
}

void CCorvelApp::OnAppAbout() {
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}
