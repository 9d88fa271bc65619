// The About box: dialog template 100 with the icon, version and copyright.
#pragma once

#include "framework/CDialog.h"

class CAboutDlg : public win::CDialog {
public:
    CAboutDlg();
};
