// The About box on its template; it has no data and no commands of its own.
#include "app/CAboutDlg.h"

#include "app/Resource.h"

using namespace win;

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
