// The edit bar on a QToolBar that neither moves nor floats.
#include "framework/CEditBar.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPalette>
#include <QToolBar>

#include "framework/AcceleratorKeyFilter.h"
#include "framework/CFrameWnd.h"

namespace win {
namespace {

// Dark red: 5.9 to 1 against white, readable as text, and red to the eye.
const QColor kErrorColor(0xB0, 0x00, 0x00);

}  // namespace

BOOL CEditBar::Create(CWnd* parent, LPCSTR label, UINT command, DWORD style, UINT id) {
    auto* window = parent ? qobject_cast<QMainWindow*>(parent->GetWidget()) : nullptr;
    if (!window) return FALSE;
    auto* bar = new QToolBar(window);
    bar->setObjectName("editbar");
    bar->setMovable(false);
    bar->setFloatable(false);
    auto* caption = new QLabel(QString::fromUtf8(label ? label : ""), bar);
    caption->setContentsMargins(4, 0, 4, 0);
    m_pField = new QLineEdit(bar);
    m_pField->setClearButtonEnabled(false);
    // Copy, cut, paste and undo work on the expression typed here.
    m_pField->setProperty(AcceleratorKeyFilter::kOwnsEditKeys, true);
    m_pField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    caption->setBuddy(m_pField);
    m_pMessage = new QLabel(bar);
    m_pMessage->setContentsMargins(6, 0, 4, 0);
    // A style sheet: a palette set here does not survive the toolbar's own.
    m_pMessage->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(kErrorColor.name()));
    bar->addWidget(caption);
    bar->addWidget(m_pField);
    // Shown and hidden through its action: a toolbar shows the action, not the label.
    bar->addWidget(m_pMessage)->setVisible(false);
    if (!AttachBar(bar, parent, style, id)) {
        m_pField = nullptr;
        m_pMessage = nullptr;
        return FALSE;
    }
    m_nCommand = command;
    window->addToolBarBreak(Qt::TopToolBarArea);
    window->addToolBar(Qt::TopToolBarArea, bar);
    if (!(style & WS_VISIBLE)) bar->hide();

    QObject::connect(m_pField, &QLineEdit::returnPressed, bar, [this] { SendCommand(); });
    auto* escape = new QAction(m_pField);
    escape->setShortcut(Qt::Key_Escape);
    escape->setShortcutContext(Qt::WidgetShortcut);
    m_pField->addAction(escape);
    QObject::connect(escape, &QAction::triggered, bar, [this] {
        m_pField->clear();
        SendCommand();
    });
    // Editing the text takes the mark away: it was about the text before.
    QObject::connect(m_pField, &QLineEdit::textEdited, bar, [this] { SetError(std::string()); });
    return TRUE;
}

void CEditBar::SendCommand() {
    if (m_pFrame) m_pFrame->ExecuteCommand(m_nCommand);
}

std::string CEditBar::GetText() const { return m_pField ? m_pField->text().toStdString() : std::string(); }

void CEditBar::SetText(const std::string& text) {
    if (m_pField) m_pField->setText(QString::fromStdString(text));
}

void CEditBar::SetError(const std::string& message) {
    if (!m_pField) return;
    const QString text = QString::fromStdString(message);
    QPalette palette = m_pField->palette();
    palette.setColor(QPalette::Text, message.empty() ? QPalette().color(QPalette::Text) : kErrorColor);
    m_pField->setPalette(palette);
    m_pField->setToolTip(text);
    m_pField->setAccessibleDescription(text);
    m_pMessage->setText(text);
    auto* bar = qobject_cast<QToolBar*>(GetWidget());
    if (QAction* action = bar ? bar->actions().value(2) : nullptr) action->setVisible(!message.empty());
}

std::string CEditBar::GetError() const { return m_pMessage ? m_pMessage->text().toStdString() : std::string(); }

void CEditBar::SetCueBanner(const std::string& text) {
    if (m_pField) m_pField->setPlaceholderText(QString::fromStdString(text));
}

void CEditBar::FocusField() {
    if (!m_pField) return;
    m_pField->setFocus(Qt::ShortcutFocusReason);
    m_pField->selectAll();
}

}  // namespace win
