#pragma once
// Messages to the operator: Japanese, with the English beside it for those who read only that.
// No Qt.

#include <string>
#include <string_view>

/// "<japanese> / <english>": one line, UTF-8.
std::string Bilingual(std::string_view japanese, std::string_view english);

/// Writes line (UTF-8) and a line end to standard error, in the system code page.
void PrintError(const std::string& line);
