// The rich-text edit control: see CRichEditCtrl.h.
#include "framework/CRichEditCtrl.h"

#include <QColor>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QPlainTextEdit>

#include "framework/FontSubstitutes.h"

namespace win {

namespace {

// Turns the masked fields of a CHARFORMAT into a Qt format to merge.
QTextCharFormat ToQt(const CHARFORMAT& cf) {
    QTextCharFormat f;
    if (cf.dwMask & CFM_BOLD) f.setFontWeight((cf.dwEffects & CFE_BOLD) ? QFont::Bold : QFont::Normal);
    if (cf.dwMask & CFM_ITALIC) f.setFontItalic((cf.dwEffects & CFE_ITALIC) != 0);
    if (cf.dwMask & CFM_UNDERLINE) f.setFontUnderline((cf.dwEffects & CFE_UNDERLINE) != 0);
    if (cf.dwMask & CFM_STRIKEOUT) f.setFontStrikeOut((cf.dwEffects & CFE_STRIKEOUT) != 0);
    if (cf.dwMask & CFM_SIZE && cf.yHeight > 0) f.setFontPointSize(cf.yHeight / 20.0);
    if (cf.dwMask & CFM_OFFSET) {
        f.setVerticalAlignment(cf.yOffset > 0   ? QTextCharFormat::AlignSuperScript
                               : cf.yOffset < 0 ? QTextCharFormat::AlignSubScript
                                                : QTextCharFormat::AlignNormal);
    }
    if (cf.dwMask & CFM_FACE) {
        const std::string face(cf.szFaceName, strnlen(cf.szFaceName, sizeof cf.szFaceName));
        f.setFontFamilies(QStringList{QString::fromLocal8Bit(face.c_str())});
    }
    if (cf.dwMask & CFM_COLOR) {
        if (cf.dwEffects & CFE_AUTOCOLOR) {
            // Automatic colour: no brush of its own, so the palette's text colour shows.
            f.setForeground(QBrush());
        } else {
            const COLORREF c = cf.crTextColor;
            f.setForeground(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
        }
    }
    return f;
}

/// The view of a read-only control, which has no caret to follow: it keeps
/// its place when shown (the edit would scroll to the insertion point on its
/// first show), and Ctrl+Home and Ctrl+End scroll to the ends.
class ReadOnlyView : public QObject {
public:
    explicit ReadOnlyView(QPlainTextEdit* edit) : QObject(edit), m_edit(edit) { edit->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The edit's own destructor has already run when QWidget's sends its
        // last events (focus out): the cast then fails and nothing is touched.
        if (qobject_cast<QPlainTextEdit*>(watched) != m_edit || !m_edit->isReadOnly()) return false;
        if (event->type() == QEvent::Show) {
            const int v = m_edit->verticalScrollBar()->value(), h = m_edit->horizontalScrollBar()->value();
            QPointer<QPlainTextEdit> edit(m_edit);
            QMetaObject::invokeMethod(
                m_edit,
                [edit, v, h]() {
                    if (!edit) return;
                    edit->verticalScrollBar()->setValue(v);
                    edit->horizontalScrollBar()->setValue(h);
                },
                Qt::QueuedConnection);
            return false;
        }
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & Qt::ControlModifier)) return false;
        if (key->key() == Qt::Key_Home) {
            m_edit->verticalScrollBar()->setValue(m_edit->verticalScrollBar()->minimum());
            m_edit->horizontalScrollBar()->setValue(m_edit->horizontalScrollBar()->minimum());
            return true;
        }
        if (key->key() == Qt::Key_End) {
            m_edit->verticalScrollBar()->setValue(m_edit->verticalScrollBar()->maximum());
            return true;
        }
        return false;
    }

private:
    QPlainTextEdit* m_edit;
};

}  // namespace

BOOL CRichEditCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CWnd::Create("RichEdit20A", "", style, rect, parent, id);
}

QWidget* CRichEditCtrl::CreateWidget(const CREATESTRUCT&, QWidget* parent) {
    // A plain-text edit keeps per-character formats like a rich one, but lays
    // out only the lines it shows: a dump of thousands of lines goes in
    // without shaping every line first.
    InstallFontSubstitutes();
    auto* edit = new QPlainTextEdit(parent);
    new ReadOnlyView(edit);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setUndoRedoEnabled(false);
    return edit;
}

QPlainTextEdit* CRichEditCtrl::Edit() const { return static_cast<QPlainTextEdit*>(GetWidget()); }

QTextDocument* CRichEditCtrl::GetDocument() const {
    QPlainTextEdit* edit = Edit();
    return edit ? edit->document() : nullptr;
}

BOOL CRichEditCtrl::SetReadOnly(BOOL readOnly) {
    QPlainTextEdit* edit = Edit();
    if (!edit) return FALSE;
    edit->setReadOnly(readOnly != FALSE);
    return TRUE;
}

BOOL CRichEditCtrl::SetDefaultCharFormat(CHARFORMAT& format) {
    QPlainTextEdit* edit = Edit();
    if (!edit) return FALSE;
    const QTextCharFormat f = ToQt(format);
    QTextCursor all(edit->document());
    all.select(QTextCursor::Document);
    all.mergeCharFormat(f);
    QTextCursor cursor = edit->textCursor();
    cursor.mergeCharFormat(f);
    edit->mergeCurrentCharFormat(f);
    return TRUE;
}

BOOL CRichEditCtrl::SetSelectionCharFormat(CHARFORMAT& format) {
    QPlainTextEdit* edit = Edit();
    if (!edit) return FALSE;
    // With an empty selection the edit keeps the merged format for the next insertion.
    edit->mergeCurrentCharFormat(ToQt(format));
    return TRUE;
}

void CRichEditCtrl::SetSel(long start, long end) {
    QPlainTextEdit* edit = Edit();
    if (!edit) return;
    QTextCursor cursor = edit->textCursor();
    const long length = GetTextLength();
    if (end < 0 || end > length) end = length;
    if (start < 0) start = end;  // a negative start only places the insertion point
    if (start > length) start = length;
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
}

void CRichEditCtrl::Clear() {
    QPlainTextEdit* edit = Edit();
    if (!edit) return;
    QTextCursor cursor = edit->textCursor();
    // The format at the insertion point survives the deletion, as a rich edit's does.
    const QTextCharFormat keep = cursor.charFormat();
    cursor.removeSelectedText();
    cursor.setCharFormat(keep);
    edit->setTextCursor(cursor);
    if (edit->isReadOnly() && GetTextLength() == 0) {
        edit->verticalScrollBar()->setValue(0);
        edit->horizontalScrollBar()->setValue(0);
    }
}

void CRichEditCtrl::ReplaceSel(LPCSTR text, BOOL canUndo) {
    QPlainTextEdit* edit = Edit();
    if (!edit || !text) return;
    QString s = QString::fromLocal8Bit(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextDocument* doc = edit->document();
    const bool undo = doc->isUndoRedoEnabled();
    if (!canUndo) doc->setUndoRedoEnabled(false);
    QTextCursor cursor = edit->textCursor();
    cursor.insertText(s, edit->currentCharFormat());
    // A read-only control shows no caret, so its view does not follow the
    // insertion point (the control's own cursor moves past the text all the
    // same): text filled in after a clear is shown from the top.
    if (!edit->isReadOnly()) edit->setTextCursor(cursor);
    if (!canUndo) doc->setUndoRedoEnabled(undo);
}

std::string CRichEditCtrl::GetWindowText() const {
    QTextDocument* doc = GetDocument();
    if (!doc) return {};
    QString s = doc->toPlainText();
    s.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return s.toLocal8Bit().toStdString();
}

long CRichEditCtrl::GetTextLength() const {
    QTextDocument* doc = GetDocument();
    // The document always ends in one paragraph separator that holds no text.
    return doc ? static_cast<long>(doc->characterCount() - 1) : 0;
}

LRESULT CRichEditCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case EM_SETREADONLY:
        return SetReadOnly(static_cast<BOOL>(wParam));
    case EM_SETCHARFORMAT: {
        auto* format = reinterpret_cast<CHARFORMAT*>(lParam);
        if (!format) return FALSE;
        return (wParam & SCF_SELECTION) ? SetSelectionCharFormat(*format) : SetDefaultCharFormat(*format);
    }
    case EM_EXSETSEL:
        if (lParam) ExSetSel(*reinterpret_cast<const CHARRANGE*>(lParam));
        return 0;
    case WM_CLEAR:
        Clear();
        return 0;
    case EM_REPLACESEL:
        ReplaceSel(reinterpret_cast<LPCSTR>(lParam), static_cast<BOOL>(wParam));
        return 0;
    case WM_GETTEXTLENGTH:
        return GetTextLength();
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}

}  // namespace win
