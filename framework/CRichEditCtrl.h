// The rich-text edit control: a QPlainTextEdit child window (per-character
// faces and colours, lines laid out only when shown) driven the way a
// program drives a rich edit control. Text goes in at the insertion point
// (ReplaceSel) in the current insertion format, which SetSelectionCharFormat
// changes while the selection is empty; "\r\n" becomes one line break and
// counts as one character position. Character formats are CHARFORMAT records:
// heights in twips, colours as COLORREF (red in the low byte). UI thread only.
#pragma once

#include <string>

#include "framework/CWnd.h"

class QTextDocument;
class QPlainTextEdit;

namespace win {

inline constexpr DWORD CFM_BOLD = 0x00000001;
inline constexpr DWORD CFM_ITALIC = 0x00000002;
inline constexpr DWORD CFM_UNDERLINE = 0x00000004;
inline constexpr DWORD CFM_STRIKEOUT = 0x00000008;
inline constexpr DWORD CFM_PROTECTED = 0x00000010;
inline constexpr DWORD CFM_LINK = 0x00000020;
inline constexpr DWORD CFM_CHARSET = 0x08000000;
inline constexpr DWORD CFM_OFFSET = 0x10000000;
inline constexpr DWORD CFM_FACE = 0x20000000;
inline constexpr DWORD CFM_COLOR = 0x40000000;
inline constexpr DWORD CFM_SIZE = 0x80000000;

inline constexpr DWORD CFE_BOLD = 0x00000001;
inline constexpr DWORD CFE_ITALIC = 0x00000002;
inline constexpr DWORD CFE_UNDERLINE = 0x00000004;
inline constexpr DWORD CFE_STRIKEOUT = 0x00000008;
inline constexpr DWORD CFE_PROTECTED = 0x00000010;
inline constexpr DWORD CFE_AUTOCOLOR = 0x40000000;

inline constexpr UINT SCF_DEFAULT = 0x0000;
inline constexpr UINT SCF_SELECTION = 0x0001;

inline constexpr UINT EM_REPLACESEL = 0x00C2;
inline constexpr UINT EM_EXSETSEL = WM_USER + 55;
inline constexpr UINT EM_SETCHARFORMAT = WM_USER + 68;
inline constexpr UINT EM_SETREADONLY = 0x00CF;

inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

struct CHARFORMATA {
    UINT cbSize;
    DWORD dwMask;
    DWORD dwEffects;
    LONG yHeight;  // twips
    LONG yOffset;  // twips, positive raises the text
    COLORREF crTextColor;
    BYTE bCharSet;
    BYTE bPitchAndFamily;
    char szFaceName[32];
};
using CHARFORMAT = CHARFORMATA;

/// A character range; cpMin 0 with cpMax -1 selects everything.
struct CHARRANGE {
    LONG cpMin;
    LONG cpMax;
};

class CRichEditCtrl : public CWnd {
public:
    virtual BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    BOOL SetReadOnly(BOOL readOnly = TRUE);
    /// Sets the format of text that has none of its own: all text so far and
    /// the insertion format.
    BOOL SetDefaultCharFormat(CHARFORMAT& format);
    /// Sets the format of the selection, or of the text inserted next when the
    /// selection is empty.
    BOOL SetSelectionCharFormat(CHARFORMAT& format);
    void SetSel(long start, long end);
    void ExSetSel(const CHARRANGE& range) { SetSel(range.cpMin, range.cpMax); }
    /// Deletes the selection (WM_CLEAR).
    void Clear();
    /// Replaces the selection with text in the insertion format; the insertion
    /// point then stands after it.
    void ReplaceSel(LPCSTR text, BOOL canUndo = FALSE);

    /// The text with line breaks as "\r\n".
    std::string GetWindowText() const;
    void GetWindowText(std::string& text) const { text = GetWindowText(); }
    /// Length in character positions (a line break counts once).
    long GetTextLength() const;

    /// The document behind the control (tests read faces and colours here).
    QTextDocument* GetDocument() const;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;

private:
    QPlainTextEdit* Edit() const;
};

}  // namespace win
