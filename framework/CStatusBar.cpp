// The status bar on QStatusBar with one label per pane.
#include "framework/CStatusBar.h"

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <algorithm>

#include "framework/AfxStrings.h"
#include "framework/CCmdUI.h"
#include "framework/CFrameWnd.h"
#include "framework/FontScale.h"
#include "framework/FrameworkIds.h"
#include "framework/KeyboardLocks.h"

namespace win {
using namespace afx;

namespace {

bool g_failCreate = false;
bool g_failIndicators = false;
std::function<bool(UINT)> g_lockReader;

/// The lock state from the states read from the display, or from the test's reader.
bool LockState(UINT indicator, const KeyboardLockStates& states) {
    if (g_lockReader) return g_lockReader(indicator);
    switch (indicator) {
    case ID_INDICATOR_CAPS: return states.caps;
    case ID_INDICATOR_NUM: return states.num;
    case ID_INDICATOR_SCRL: return states.scroll;
    default: return false;
    }
}

}  // namespace

void testing::FailNextStatusBarCreate() { g_failCreate = true; }
void testing::FailNextSetIndicators() { g_failIndicators = true; }
void testing::SetLockStateReader(std::function<bool(UINT)> reader) { g_lockReader = std::move(reader); }

BOOL CStatusBar::Create(CWnd* parent, DWORD style, UINT id) {
    if (g_failCreate) {
        g_failCreate = false;
        return FALSE;
    }
    auto* window = parent ? qobject_cast<QMainWindow*>(parent->GetWidget()) : nullptr;
    if (!window) return FALSE;
    auto* bar = new QStatusBar(window);
    bar->setSizeGripEnabled(true);
    if (!AttachBar(bar, parent, style, id)) return FALSE;
    window->setStatusBar(bar);
    if (!(style & WS_VISIBLE)) bar->hide();
    return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT* ids, int count) {
    if (g_failIndicators) {
        g_failIndicators = false;
        return FALSE;
    }
    auto* bar = qobject_cast<QStatusBar*>(GetWidget());
    if (!bar || !ids || count < 0) return FALSE;
    for (QLabel* pane : m_panes) delete pane;
    m_panes.clear();
    m_ids.assign(ids, ids + count);
    for (int i = 0; i < count; ++i) {
        auto* pane = new QLabel(bar);
        if (ids[i] == ID_SEPARATOR) {
            // The message pane takes the free width and has no border.
            std::string ready;
            AfxLoadString(AFX_IDS_IDLEMESSAGE, ready);
            pane->setText(QString::fromStdString(ready));
            bar->addWidget(pane, 1);
        } else {
            std::string text;
            AfxLoadString(ids[i], text);
            pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QString::fromStdString(text)) + 8);
            bar->addPermanentWidget(pane);
        }
        m_panes.push_back(pane);
    }
    UpdateIndicators();
    return TRUE;
}

void CStatusBar::SetPaneText(int index, const std::string& text) {
    if (index >= 0 && index < GetCount()) m_panes[index]->setText(QString::fromStdString(text));
}

BOOL CStatusBar::SetPaneInfo(int index, UINT id, UINT, int width) {
    if (index < 0 || index >= GetCount() || width < 0) return FALSE;
    m_ids[static_cast<size_t>(index)] = id;
    QLabel* pane = m_panes[static_cast<size_t>(index)];
    pane->setMinimumWidth(FontScale::Width(width, pane->font()));
    return TRUE;
}

int CStatusBar::GetPaneWidth(int index) const {
    if (index < 0 || index >= GetCount()) return 0;
    return m_panes[static_cast<size_t>(index)]->minimumWidth();
}

std::string CStatusBar::GetPaneText(int index) const {
    if (index < 0 || index >= GetCount()) return {};
    return m_panes[index]->text().toStdString();
}

void CStatusBar::UpdateIndicators() {
    const auto isLock = [](UINT id) {
        return id == ID_INDICATOR_CAPS || id == ID_INDICATOR_NUM || id == ID_INDICATOR_SCRL;
    };
    const KeyboardLockStates states = g_lockReader || std::none_of(m_ids.begin(), m_ids.end(), isLock)
                                          ? KeyboardLockStates{}
                                          : ReadKeyboardLocks();
    for (size_t i = 0; i < m_ids.size(); ++i) {
        const UINT id = m_ids[i];
        if (id == ID_SEPARATOR) continue;
        std::string text;
        if (isLock(id)) {
            if (LockState(id, states)) AfxLoadString(id, text);
        } else if (m_pFrame) {
            // The pane's update handler sets its text; disabled, it shows none.
            CCmdUI ui(id);
            m_pFrame->UpdateCommand(&ui);
            if (ui.m_bTextSet && !(ui.m_bEnableChanged && !ui.m_bEnabled)) text = ui.m_strText;
        }
        if (m_panes[i]->text().toStdString() != text) m_panes[i]->setText(QString::fromStdString(text));
    }
}

}  // namespace win
