// String-table helpers: AfxLoadString reads one entry (the program loads its
// settings key path from string 129 this way); AfxExtractSubString splits
// multi-field strings such as the document template string and the command
// strings ("prompt\ntooltip").
#pragma once

#include <string>

#include "platform/WinTypes.h"

namespace win {

/// The text of string id; false (and an empty text) when the table has none.
bool AfxLoadString(UINT id, std::string& text);
/// Field index of full split at separator; false when there are fewer fields.
bool AfxExtractSubString(std::string& field, const std::string& full, int index, char separator = '\n');

}  // namespace win
