// The Open and Save As file dialogs (QFileDialog) and the test seam that
// answers them: with a preset answer no dialog is shown.
#pragma once

#include <optional>
#include <string>

namespace win {

/// Asks for a file to open (open = true) or to save as; empty when cancelled.
/// The template's empty filter fields give the dialog no file type of its own.
std::string AfxPromptFileName(bool open, const std::string& proposed);

namespace testing {
/// The next file dialogs answer this name ("" = Cancel) without showing; nullopt restores them.
void SetFileDialogAnswer(std::optional<std::string> answer);
}  // namespace testing

}  // namespace win
