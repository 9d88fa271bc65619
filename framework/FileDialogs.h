// The Open and Save As file dialogs (QFileDialog) and the test seam that
// answers them: with a preset answer no dialog is shown.
#pragma once

#include <optional>
#include <string>

namespace win {

/// Asks for a file to open (open = true) or to save as; empty when cancelled.
/// filter is the template's filter name, whose patterns stand in parentheses
/// ("Capture files (*.pcapng *.pcap)"), and extension its default extension
/// (".pcapng"), added to a saved name without one; "All files" is always offered.
std::string AfxPromptFileName(bool open, const std::string& proposed, const std::string& filter = {},
                              const std::string& extension = {});

namespace testing {
/// The next file dialogs answer this name ("" = Cancel) without showing; nullopt restores them.
void SetFileDialogAnswer(std::optional<std::string> answer);
/// The filter the last dialog was asked with (answered or shown).
const std::string& GetLastFileDialogFilter();
}  // namespace testing

}  // namespace win
