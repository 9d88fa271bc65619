// The application object: registration, start and exit, command-line
// processing (with the answers to --help and --version, which a Linux program
// gives on the terminal without opening a window) and the application's own
// commands.
#include "framework/CWinApp.h"

#include <QApplication>
#include <QPrintDialog>
#include <QPrinter>

#include <cstdio>
#include <cstring>

#include "framework/AfxStrings.h"
#include "framework/CFrameWnd.h"
#include "framework/CSingleDocTemplate.h"
#include "framework/FileDialogs.h"
#include "framework/FontSubstitutes.h"
#include "framework/FrameworkIds.h"

namespace win {
using namespace afx;
namespace {
CWinApp* g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

const CommandEntry CWinApp::kCommands[] = {
    CommandHandler(ID_APP_EXIT, &CWinApp::OnAppExit),
};

const CommandTable* CWinApp::GetCommandTable() const {
    static const CommandTable table{kCommands, nullptr};
    return &table;
}

CWinApp::CWinApp(LPCSTR appName) {
    if (appName) {
        m_strAppName = appName;
        m_pszAppName = m_strAppName.c_str();
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    if (!m_pszAppName) {
        AfxLoadString(AFX_IDS_APP_TITLE, m_strAppName);
        m_pszAppName = m_strAppName.c_str();
    }
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFontSubstitutes();
    QApplication::setApplicationName(QString::fromStdString(m_strAppName));
    if (!InitInstance()) return ExitInstance();
    QApplication::exec();
    return ExitInstance();
}

namespace {

const char* VersionString(const char* name) {
    const ResourceTable* table = AfxGetResourceTable();
    if (!table || !table->version) return "";
    for (const VersionStringResource& entry : table->version->strings)
        if (std::strcmp(entry.name, name) == 0) return entry.value;
    return "";
}

std::string ProductVersion() {
    const ResourceTable* table = AfxGetResourceTable();
    if (!table || !table->version) return "";
    const WORD* v = table->version->productVersion;
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace

bool CWinApp::AnswerOnTerminal(int argc, char** argv, int& exitCode) {
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;  // file names follow
        help |= arg == "--help" || arg == "-h";
        version |= arg == "--version" || arg == "-V";
    }
    if (!help && !version) return false;
    std::string title = m_pszAppName ? m_pszAppName : "";
    if (title.empty()) AfxLoadString(AFX_IDS_APP_TITLE, title);
    std::string text;
    if (help) {
        const char* slash = argc > 0 && argv[0] ? std::strrchr(argv[0], '/') : nullptr;
        const std::string program = slash ? slash + 1 : (argc > 0 && argv[0] ? argv[0] : "");
        text = "Usage: " + program + " [OPTION]... [FILE]\n" + VersionString("FileDescription") +
               ".\nWithout FILE it starts with a new document; with FILE it opens that file.\n"
               "\n"
               "  -h, --help     show this help and exit\n"
               "  -V, --version  show the version and exit\n"
               "\n"
               "Qt's own options (for example -platform, -style, -reverse) are also taken.\n"
               "The environment variable QUORVANE_DEBUG=1 writes trace lines to standard error.\n";
    } else {
        text = title + " " + ProductVersion() + "\n" + VersionString("LegalCopyright") + "\n";
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    exitCode = std::fflush(stdout) == 0 && written ? 0 : 1;
    return true;
}

void CWinApp::AddDocTemplate(CDocTemplate* docTemplate) { m_templates.emplace_back(docTemplate); }

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
    const QStringList all = QCoreApplication::arguments();
    std::vector<std::string> args;
    for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toLocal8Bit().toStdString());
    ParseArguments(args, info);
}

void CWinApp::ParseArguments(const std::vector<std::string>& args, CCommandLineInfo& info) {
    // Switches start with "-" (Qt has taken its own already); "--" ends them.
    // Everything else is a file name: on this system "/" starts an absolute
    // path, never a switch.
    bool switches = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == args.size();
        if (switches && arg == "--") {
            switches = false;
            continue;
        }
        const bool flag = switches && arg.size() > 1 && arg[0] == '-';
        info.ParseParam(flag ? arg.c_str() + 1 : arg.c_str(), flag, last);
    }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& info) {
    switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
        OnFileNew();
        break;
    case CCommandLineInfo::FileOpen:
        if (!OpenDocumentFile(info.m_strFileName.c_str())) return FALSE;
        break;
    default:
        return TRUE;
    }
    return m_pMainWnd != nullptr;
}

CDocument* CWinApp::OpenDocumentFile(LPCSTR pathName) {
    if (m_templates.empty()) return nullptr;
    return m_templates.front()->OpenDocumentFile(pathName);
}

void CWinApp::CloseAllDocuments() {
    for (auto& t : m_templates) t->CloseAllDocuments();
}

void CWinApp::OnFileNew() {
    if (!m_templates.empty()) m_templates.front()->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen() {
    std::string filter;
    if (!m_templates.empty()) m_templates.front()->GetDocString(filter, CDocTemplate::filterName);
    const std::string name = AfxPromptFileName(true, "", filter);
    if (!name.empty()) OpenDocumentFile(name.c_str());
}

void CWinApp::OnFilePrintSetup() {
    static QPrinter* printer = new QPrinter;  // the application's printer settings
    QPrintDialog dialog(printer, QApplication::activeWindow());
    dialog.setWindowTitle("Print Setup");
    dialog.exec();
}

void CWinApp::OnAppExit() {
    // Exit usually comes from a menu item or a key, whose Qt objects are still
    // delivering the event; closing the frame destroys them. So the close runs
    // from the event loop once that delivery has finished.
    QMetaObject::invokeMethod(
        qApp,
        [this] {
            if (auto* frame = dynamic_cast<CFrameWnd*>(m_pMainWnd)) {
                frame->SendMessage(WM_CLOSE);
                return;
            }
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
}

void CCommandLineInfo::ParseParam(const char* param, bool flag, bool) {
    if (flag || !param) return;
    if (m_strFileName.empty()) {
        m_strFileName = param;
        m_nShellCommand = FileOpen;
    }
}

}  // namespace win
