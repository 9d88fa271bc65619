// File dialogs on QFileDialog, with the test answer.
#include "framework/FileDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace win {
namespace {
std::optional<std::string> g_answer;
std::string g_lastFilter;
}

void testing::SetFileDialogAnswer(std::optional<std::string> answer) { g_answer = std::move(answer); }
const std::string& testing::GetLastFileDialogFilter() { return g_lastFilter; }

std::string AfxPromptFileName(bool open, const std::string& proposed, const std::string& filter,
                              const std::string& extension) {
    g_lastFilter = filter.empty() ? "All files (*)" : filter + ";;All files (*)";
    if (g_answer) return *g_answer;
    QWidget* parent = QApplication::activeWindow();
    const QString start = QString::fromStdString(proposed);
    const QString filters = QString::fromStdString(g_lastFilter);
    QString name = open ? QFileDialog::getOpenFileName(parent, "Open", start, filters)
                        : QFileDialog::getSaveFileName(parent, "Save As", start, filters);
    if (!open && !name.isEmpty() && !extension.empty() && QFileInfo(name).suffix().isEmpty())
        name += QString::fromStdString(extension);
    return name.toStdString();
}

}  // namespace win
