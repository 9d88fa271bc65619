// The message box on QMessageBox.
#include "framework/AfxMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "framework/AfxStrings.h"
#include "framework/Resources.h"

namespace win {
namespace {
std::vector<std::string>* g_recorder = nullptr;
int g_answer = IDCANCEL;
}

void testing::SetMessageBoxRecorder(std::vector<std::string>* texts) { g_recorder = texts; }
void testing::SetMessageBoxAnswer(int answer) { g_answer = answer; }

int AfxMessageBox(const char* text, UINT type, UINT) {
    const bool question = (type & 0x0F) == MB_YESNOCANCEL;
    if (g_recorder) {
        g_recorder->push_back(text ? text : "");
        return question ? g_answer : IDOK;
    }
    std::string title;
    AfxLoadString(57344, title);
    const QMessageBox::Icon icon = (type & 0xF0) == MB_ICONQUESTION ? QMessageBox::Question : QMessageBox::Warning;
    const QMessageBox::StandardButtons buttons =
        question ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel : QMessageBox::Ok;
    QMessageBox box(icon, QString::fromStdString(title), QString::fromLocal8Bit(text ? text : ""), buttons,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    if (question) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    }
    const int pressed = box.exec();
    if (!question) return IDOK;
    if (pressed == QMessageBox::Yes) return IDYES;
    if (pressed == QMessageBox::No) return IDNO;
    return IDCANCEL;
}

}  // namespace win
