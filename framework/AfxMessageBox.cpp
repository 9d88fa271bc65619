// The message box on QMessageBox.
#include "framework/AfxMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "framework/AfxStrings.h"
#include "framework/Resources.h"

namespace win {
namespace {
std::vector<std::string>* g_recorder = nullptr;
}

void testing::SetMessageBoxRecorder(std::vector<std::string>* texts) { g_recorder = texts; }

int AfxMessageBox(const char* text, UINT, UINT) {
    if (g_recorder) {
        g_recorder->push_back(text ? text : "");
        return IDOK;
    }
    std::string title;
    AfxLoadString(57344, title);
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromLocal8Bit(text ? text : ""),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return IDOK;
}

}  // namespace win
