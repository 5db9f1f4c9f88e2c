#pragma once
// The root folder that a command-line argument names. Shared by the window and the headless
// runner; no Qt.

#include <string>

/// The root text for a command-line argument: an existing folder as given (unchanged), an
/// existing file its folder with a trailing "/" ("./" for a bare file name), anything else
/// the empty text.
std::string RootFromArgument(const std::string& argument);
