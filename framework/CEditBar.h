// A control bar of the frame that holds one labelled single-line edit field,
// on a line of its own along the top edge, under the bars already there.
// Enter in the field sends the bar's command through the frame's routing, as
// a button would; Escape empties the field and sends it too. The owner of the
// command reads the text and may mark it as wrong: the field's text then
// shows in red, with the message beside it, until the text is edited or the
// mark is taken away.
#pragma once

#include <string>

#include "framework/CControlBar.h"

class QLabel;
class QLineEdit;

namespace win {

inline constexpr UINT AFX_IDW_DIALOGBAR = 59397;

class CEditBar : public CControlBar {
public:
    /// Creates the bar on parent, a frame. label goes before the field; command
    /// is what Enter and Escape send.
    BOOL Create(CWnd* parent, LPCSTR label, UINT command, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_TOP,
                UINT id = AFX_IDW_DIALOGBAR);

    std::string GetText() const;
    void SetText(const std::string& text);
    /// Marks the text as wrong with message beside it; an empty message takes the mark away.
    void SetError(const std::string& message);
    std::string GetError() const;
    /// The grey hint the empty field shows.
    void SetCueBanner(const std::string& text);
    /// Puts the keyboard focus in the field with all its text selected.
    void FocusField();
    /// The field's widget (framework and tests).
    QLineEdit* GetField() const { return m_pField; }

private:
    void SendCommand();

    UINT m_nCommand = 0;
    QLineEdit* m_pField = nullptr;
    QLabel* m_pMessage = nullptr;
};

}  // namespace win
