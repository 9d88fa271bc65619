// The clipboard through QClipboard.
#include "framework/AfxClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace win {

void AfxSetClipboardText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdString(text));
}

std::string AfxGetClipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text().toStdString() : std::string();
}

}  // namespace win
