// The framework's message box: the text, an OK button, the exclamation icon
// and the application title (string 57344) as caption; modal. Tests can make
// boxes answer at once and record their texts.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace win {

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;

/// Shows the box; returns IDOK.
int AfxMessageBox(const char* text, UINT type = MB_OK | MB_ICONEXCLAMATION, UINT helpId = 0);
inline int AfxMessageBox(const std::string& text, UINT type = MB_OK | MB_ICONEXCLAMATION, UINT helpId = 0) {
    return AfxMessageBox(text.c_str(), type, helpId);
}

namespace testing {
/// While non-null, boxes are not shown: their texts are appended and IDOK returned.
void SetMessageBoxRecorder(std::vector<std::string>* texts);
}  // namespace testing

}  // namespace win
