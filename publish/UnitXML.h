#pragma once
// The XML index of a folder tree: every file and subfolder below a folder that a request could
// be answered with, at every depth, with each file's relative path, packed last-write time and
// size, in a Shift-JIS document.

#include <cstddef>
#include <string>

#include "publish/BodySink.h"
#include "publish/WithheldRule.h"

/// Writes the index document of folder (a full path; a trailing "/" is optional) to sink: every
/// file and folder below it that rule does not withhold, with nothing below a withheld folder,
/// each folder gone into once (TTreeWalk). Only regular files are listed, since no other kind
/// is ever sent. A missing or unreadable folder gives an empty root element. The folder's
/// subfolders are walked by the calling thread and up to helpers threads of its own at once
/// (TIndexParts), each part in a sink like this one; the document is the same with any number.
/// Throws what the sink throws, and EIdException when the XML writer fails. Reads nothing shared
/// but the system code page; any thread, several at once.
void BuildFileIndex(TBodySink& sink, const std::string& folder, const TWithheldRule& rule, std::size_t helpers = 1);
