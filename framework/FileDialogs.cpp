// File dialogs on QFileDialog, with the test answer.
#include "framework/FileDialogs.h"

#include <QApplication>
#include <QFileDialog>

namespace win {
namespace {
std::optional<std::string> g_answer;
}

void testing::SetFileDialogAnswer(std::optional<std::string> answer) { g_answer = std::move(answer); }

std::string AfxPromptFileName(bool open, const std::string& proposed) {
    if (g_answer) return *g_answer;
    QWidget* parent = QApplication::activeWindow();
    const QString start = QString::fromStdString(proposed);
    const QString name = open ? QFileDialog::getOpenFileName(parent, "Open", start)
                              : QFileDialog::getSaveFileName(parent, "Save As", start);
    return name.toStdString();
}

}  // namespace win
