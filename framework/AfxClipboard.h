// The system clipboard's text, for Edit commands: what Copy puts there and
// what a paste would take. On X11 the program holds the clipboard's content
// until another program takes it or the program ends.
#pragma once

#include <string>

namespace win {

/// Replaces the clipboard's content with text (UTF-8). UI thread.
void AfxSetClipboardText(const std::string& text);
/// The clipboard's text, empty when it holds none. UI thread.
std::string AfxGetClipboardText();

}  // namespace win
