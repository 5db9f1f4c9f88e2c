#pragma once
// The XML index of a folder tree: every file and subfolder below a folder, at every depth, with
// each file's relative path, packed last-write time and size, in a Shift-JIS document.

#include <string>

/// The whole index document of folder (a full path; a trailing "/" is optional) as Shift-JIS
/// bytes, every line ending in CR LF. Hidden and system entries are included; no settings
/// apply. A missing or unreadable folder gives an empty root element. Characters Shift-JIS
/// cannot hold are written as character references, bytes that are no character of the system
/// code page as U+FFFD. Throws EIdException when the XML writer fails. Reads nothing shared but
/// the system code page; any thread, several at once.
std::string BuildFileIndex(const std::string& folder);
