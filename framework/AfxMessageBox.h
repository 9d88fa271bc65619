// The framework's message box: the text, its buttons (OK, or Yes, No and
// Cancel), an icon and the application title (string 57344) as caption;
// modal. Tests can make boxes answer at once and record their texts.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace win {

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

/// Shows the box; returns the button pressed (IDOK; IDYES, IDNO or IDCANCEL).
int AfxMessageBox(const char* text, UINT type = MB_OK | MB_ICONEXCLAMATION, UINT helpId = 0);
inline int AfxMessageBox(const std::string& text, UINT type = MB_OK | MB_ICONEXCLAMATION, UINT helpId = 0) {
    return AfxMessageBox(text.c_str(), type, helpId);
}

namespace testing {
/// While non-null, boxes are not shown: their texts are appended and IDOK
/// returned (for Yes/No/Cancel boxes, the answer set below).
void SetMessageBoxRecorder(std::vector<std::string>* texts);
/// The answer recorded Yes/No/Cancel boxes give (default IDCANCEL).
void SetMessageBoxAnswer(int answer);
}  // namespace testing

}  // namespace win
