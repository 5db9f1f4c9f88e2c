#pragma once
// Conversion between the system code page, in which the engine and the request handler hold
// every text, and UTF-8, in which the window's toolkit takes and gives text. No Qt.

#include <string>

/// text (UTF-8) in the system code page; a character the code page cannot show becomes "?".
std::string Utf8ToSystem(const std::string& text);

/// text (system code page) in UTF-8; a byte sequence that is not a character becomes "?".
std::string SystemToUtf8(const std::string& text);
