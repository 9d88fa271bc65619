// The faces that the program names ("Arial", "Courier", as on the platform it
// was written for) map to the metric-compatible faces that Debian installs
// (fonts-liberation), instead of whatever sans or thin mono face the font
// configuration would fall back to.
#pragma once

namespace win {

/// Registers the substitutes with Qt's font matching; safe to call repeatedly.
void InstallFontSubstitutes();

}  // namespace win
