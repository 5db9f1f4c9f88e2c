#pragma once
// The HTML listing of one folder: a preformatted block with one line per entry, a link, the
// last-write date and time and the size (or the folder word). The page is in the system code
// page and declares no character set.

#include <string>

#include "platform/FindEntries.h"
#include "platform/RegionalFormats.h"
#include "publish/BodySink.h"
#include "publish/PublishSettings.h"

/// Writes the page for folder (a full path, with or without a trailing "/") to sink, listing the
/// entries the settings do not withhold: hidden and system entries as the exclusions say
/// (read-only files are always listed), and with the extension filter on only the files whose
/// names end in "." and the extension, besides every folder ("." and ".." included). A folder
/// that cannot be read gives a page without entry lines. Throws what the sink throws. Reads
/// nothing shared but the system code page; any thread, several at once.
void ListingPage(TBodySink& sink, const std::string& folder, const TPublishSettings& settings,
                 const platform::TRegionalFormats& formats);

/// One entry line, ending in CR LF: the link (target percent-encoded from the name's UTF-8
/// form, or from its own bytes when the code page cannot read it; "/" appended for a folder;
/// the name shown HTML-escaped), blanks up to column 41 counted on the unescaped name's display
/// width (one from 40 columns on), the local last-write date, a blank and the time unless it is
/// exactly midnight, three blanks and the size or the folder word.
std::string ListingLine(const platform::TSearchRec& entry, const platform::TRegionalFormats& formats);
