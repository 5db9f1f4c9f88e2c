#pragma once
// Log lines that show what was received without letting it steer the reader's display.

#include <string>
#include <string_view>

/// text (in the system code page) as one log line may show it: every character that a terminal
/// or a text view would act on instead of showing, or that could make the line look like
/// another, written as "\u{HHHH}" (C0 and C1 controls, DEL, U+2028 and U+2029, and the
/// bidirectional controls U+061C, U+200E, U+200F, U+202A-U+202E and U+2066-U+2069); every byte
/// that is no character of the code page written as "\xHH"; "\" itself written as "\\", so that
/// an escape in the log always stands for what it names. Hex digits are upper-case. Everything
/// else stays as it is. Any thread.
std::string EscapeLogText(std::string_view text);
