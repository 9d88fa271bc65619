// Dialogs built from templates, run modally on QDialog.
#include "framework/CDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <memory>
#include <string>

#include "framework/CWinApp.h"
#include "framework/Resources.h"

namespace win {

/// The dialog's Qt window: Escape and reject() go to OnCancel.
class DialogWidget : public QDialog {
public:
    DialogWidget(CDialog* dialog, QWidget* parent) : QDialog(parent), m_dialog(dialog) {}
    void reject() override { m_dialog->OnCancel(); }

private:
    CDialog* m_dialog;
};

namespace {

/// One template control's stand-in until DDX_Control binds a control object.
class DialogControl : public CWnd {};

QWidget* MakeControl(const DialogControlResource& c, QWidget* parent, CDialog* dialog) {
    const std::string cls = c.windowClass ? c.windowClass : "";
    const QString text = QString::fromLocal8Bit(c.text ? c.text : "");
    if (cls == "BUTTON") {
        auto* button = new QPushButton(text, parent);
        button->setDefault((c.style & 0x0F) == BS_DEFPUSHBUTTON);
        const int id = c.id;
        QObject::connect(button, &QPushButton::clicked, parent, [dialog, id]() {
            if (id == IDOK)
                dialog->OnOK();
            else if (id == IDCANCEL)
                dialog->OnCancel();
            else
                dialog->OnCmdMsg(static_cast<UINT>(id));
        });
        return button;
    }
    if (cls == "EDIT") {
        auto* edit = new QLineEdit(text, parent);
        edit->setFrame((c.style & WS_BORDER) != 0);
        return edit;
    }
    if (cls == "COMBOBOX") {
        auto* box = new QComboBox(parent);
        box->setEditable(false);
        return box;
    }
    auto* label = new QLabel(parent);
    if ((c.style & 0x0F) == SS_ICON) {
        const UINT iconId = text.startsWith('#') ? text.mid(1).toUInt() : 128;
        if (const IconResource* icon = AfxFindIcon(iconId); icon && icon->large) label->setPixmap(QPixmap(icon->large));
    } else {
        label->setText(text);
        label->setTextFormat(Qt::PlainText);
        if (!(c.style & SS_NOPREFIX)) label->setText(text);
    }
    return label;
}

}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    for (CWnd* control : m_controls) delete dynamic_cast<DialogControl*>(control);
}

INT_PTR CDialog::DoModal() {
    const DialogResource* t = AfxFindDialog(m_nIDTemplate);
    if (!t) return -1;
    CWnd* owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    QWidget* ownerWidget = owner && owner->GetWidget() ? owner->GetWidget()->window() : nullptr;
    auto* widget = new DialogWidget(this, ownerWidget);
    widget->setWindowTitle(QString::fromLocal8Bit(t->caption ? t->caption : ""));
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(t->fontPointSize ? t->fontPointSize : 8);
    widget->setFont(font);
    const QFontMetrics metrics(font);
    // Dialog base units: the average width of the Latin letters and the line height.
    const int avgWidth =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int height = metrics.height();
    auto ux = [avgWidth](int v) { return v * avgWidth / 4; };
    auto uy = [height](int v) { return v * height / 8; };
    widget->setFixedSize(ux(t->cx), uy(t->cy));
    m_nResult = IDCANCEL;
    SubclassWidget(widget, 0, t->style, nullptr);

    QWidget* previous = nullptr;
    QWidget* firstTabStop = nullptr;
    for (const DialogControlResource& c : t->controls) {
        QWidget* control = MakeControl(c, widget, this);
        int h = uy(c.cy);
        if (auto* box = qobject_cast<QComboBox*>(control)) h = box->sizeHint().height();  // the list drops below
        control->setGeometry(ux(c.x), uy(c.y), ux(c.cx), h);
        control->setFocusPolicy((c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
        if ((c.style & WS_TABSTOP) && !firstTabStop) firstTabStop = control;
        if (previous) QWidget::setTabOrder(previous, control);
        previous = control;
        auto* stand = new DialogControl;
        stand->SubclassWidget(control, static_cast<UINT>(c.id), c.style | WS_CHILD, this);
        m_controls.push_back(stand);
    }
    bool ended = false;
    if (OnInitDialog() && firstTabStop) firstTabStop->setFocus(Qt::TabFocusReason);
    ended = !m_hWnd || (widget->result() != 0);
    if (m_hWnd && !ended) {
        widget->setWindowModality(Qt::ApplicationModal);
        widget->exec();
    }
    const int result = m_nResult;
    DestroyWindow();
    for (CWnd* control : m_controls) delete dynamic_cast<DialogControl*>(control);
    m_controls.clear();
    return result;
}

void CDialog::EndDialog(int result) {
    m_nResult = result;
    if (auto* dialog = qobject_cast<QDialog*>(GetWidget())) dialog->done(result == 0 ? -1 : result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnClose() { OnCancel(); }
void CDialog::DoDataExchange(CDataExchange*) {}
void CDialog::OnButton(UINT id) { OnCmdMsg(id); }

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd || !pDX || !pDX->m_pDlgWnd) return;
    CWnd* stand = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!stand) return;
    const DWORD style = stand->GetStyle();
    QWidget* widget = stand->UnsubclassWidget();
    control.SubclassWidget(widget, static_cast<UINT>(id), style, pDX->m_pDlgWnd);
}

}  // namespace win
