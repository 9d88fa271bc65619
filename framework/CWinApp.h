// The application object. The program defines one global CWinApp-derived
// object; its constructor registers it (AfxGetApp). The entry point
// (framework_main) creates the Qt application, calls InitInstance (false ends
// the process quietly), runs the event loop, then ExitInstance, whose result
// is the exit code; ExitInstance also runs after a failed start.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/CCommandLineInfo.h"
#include "framework/CCmdTarget.h"

namespace win {

class CDocTemplate;
class CDocument;
class CWnd;

class CWinApp : public CCmdTarget {
public:
    /// Without a name the title comes from string 57344 when the framework starts.
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    /// The exit code; the base returns 0.
    virtual int ExitInstance();

    /// The application takes ownership of the template.
    void AddDocTemplate(CDocTemplate* docTemplate);
    /// Fills the record from the process's arguments.
    void ParseCommandLine(CCommandLineInfo& info);
    /// Fills the record from arguments (without the program name): "-x" is
    /// the switch "x" until "--"; every other argument is a file name.
    static void ParseArguments(const std::vector<std::string>& args, CCommandLineInfo& info);
    /// New (no argument) or Open of the file; false when it fails or no main window results.
    BOOL ProcessShellCommand(CCommandLineInfo& info);
    /// Opens the file in the template's document; null on failure.
    CDocument* OpenDocumentFile(LPCSTR pathName);
    /// Closes the document (destroying its frame and views) and deletes it.
    void CloseAllDocuments();

    void OnFileNew();
    void OnFileOpen();
    void OnFilePrintSetup();
    void OnAppExit();
    const CommandTable* GetCommandTable() const override;

    CWnd* m_pMainWnd = nullptr;
    const char* m_pszAppName = nullptr;

    // Framework use: runs the application once the Qt application exists.
    int Run();
    /// Framework use, before the Qt application exists: answers --help (-h)
    /// and --version (-V) on standard output from the resources (title,
    /// description, version). True, with the exit code, when it answered.
    bool AnswerOnTerminal(int argc, char** argv, int& exitCode);

private:
    static const CommandEntry kCommands[];
    std::string m_strAppName;
    std::vector<std::unique_ptr<CDocTemplate>> m_templates;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

}  // namespace win
