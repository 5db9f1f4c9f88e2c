#pragma once
// The browse page of one folder: an HTML5 page in UTF-8 for people, phones first, with
// breadcrumbs, sorting, a filter, folder downloads, copyable links and a photo grid.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "publish/BodySink.h"
#include "publish/BrowseAssets.h"
#include "publish/BrowseQuery.h"

/// The folder a browse answer is about.
struct TBrowseFolder {
  std::string Path;  // the request path as the client sent it, decoded; ends in "/"
  TBrowseRows Rows;
};

/// Writes the page of folder for query in texts' language to sink: ".." unless the folder is
/// the root, the rows, and a "more" link when rows follow. Throws what the sink throws.
void BrowsePage(TBodySink& sink, const TBrowseFolder& folder, const TBrowseQuery& query, const TBrowseTexts& texts);

/// bytes in the units people read: "512 B", "1.0 KB", "12 KB", "2.0 GB" (1 KB = 1,024 B; one
/// decimal below ten).
std::string HumanSize(std::int64_t bytes);

/// value in decimal digits, appended to out.
void AppendNumber(std::string& out, std::int64_t value);

/// moment as ISO 8601 UTC: "2026-12-08T20:09:23Z".
std::string IsoUtc(std::time_t moment);

/// IsoUtc of the dates of one answer's rows. The entries of a folder often share their second
/// (a copied or unpacked tree), so the last one is kept. Used by one thread.
class TIsoDates {
public:
  const std::string& Text(std::time_t moment);

private:
  std::time_t FMoment = 0;
  std::string FText;  // empty until the first row
};

/// A request path as UTF-8 text: as it is when it is UTF-8 (what browsers send), else read in
/// the code page, as ShownName reads a name.
std::string ShownPath(const std::string& path);

/// A name as UTF-8 text: a byte the code page cannot read shows as U+FFFD. The name itself when
/// it is that text already, else the text written into spare. Sets repaired when the text is
/// not the name's own bytes in UTF-8.
std::string_view ShownName(std::string_view name, std::string& spare, bool& repaired);
