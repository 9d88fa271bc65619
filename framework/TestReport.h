// A report of what the program's windows show, for tests that drive the built
// program on a real desktop. Off unless the environment variable
// QUORVANE_TEST_REPORT names a file: then, a few times a second, that file is
// replaced by lines that describe every visible top-level window (title,
// frame, screen area, owner), every list (column widths and the widths their
// header and cells need, horizontal scroll bar, top row, selected row), every
// text view (the line at its top), every status bar (its panes' texts) and
// every single-line field (text, colour, tooltip). QUORVANE_TEST_PROBES may list texts, separated by "|", whose
// needed cell width in each list is reported too.
#pragma once

#include <string>

class QWidget;

namespace win::testing {

/// Starts the periodic report when the environment asks for it.
void StartTestReport();
/// The report text as it would be written now.
std::string DescribeWindows();

}  // namespace win::testing
