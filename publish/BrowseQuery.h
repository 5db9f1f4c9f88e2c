#pragma once
// What a browse page or its JSON form was asked for (order, page, filter, view), and the rows of
// a folder that answer it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FindEntries.h"

/// The rows one answer carries.
constexpr std::size_t kBrowsePageRows = 1000;

enum class TBrowseSort { Name, Date, Size };

/// The options of one request, from its decoded parameters. A value; any thread.
struct TBrowseQuery {
  TBrowseSort Sort = TBrowseSort::Name;
  bool Descending = false;
  std::size_t Offset = 0;  // rows skipped, after filtering and sorting
  std::string Filter;      // UTF-8; empty: every row
  bool Grid = false;       // the photo grid rather than the list
};

/// The query of params ("name=value" or "name", decoded): sort=name|date|size,
/// order=asc|desc, page=N (from 1) or offset=N, q=TEXT, view=grid|list. Unknown names and
/// values that cannot be read keep the default.
TBrowseQuery BrowseQueryOf(const std::vector<std::string>& params);

/// Whether params (a request's decoded parameters) ask for a browse page ("browse" first) or
/// its JSON form ("json" first), with or without a value.
bool IsBrowseRequest(const std::vector<std::string>& params);

/// The query as parameters that follow "?browse" or "?json" ("&sort=size&order=desc"), leaving
/// out the offset and every default; the filter percent-encoded.
std::string BrowseQueryText(const TBrowseQuery& query);

/// One row: an entry's name and status, held by whoever read the folder (never copied, as a
/// folder may hold hundreds of thousands of entries).
struct TBrowseEntry {
  std::string_view Name;
  const platform::TFileInfo* Info;
};

/// The rows of entries, in their order. Valid while entries live.
std::vector<TBrowseEntry> BrowseEntriesOf(const platform::TFolderEntries& entries);

/// The rows of one answer and how many there are in all.
struct TBrowseRows {
  std::vector<TBrowseEntry> Rows;
  std::size_t Total = 0;  // rows passing the filter, on every page
};

/// The rows of entries (a folder's published entries, in name order) for query: "." and ".."
/// left out, the filter applied (a part of the name, ASCII letter case aside), folders before
/// files in either order, equal keys in name order, then the page at the query's offset.
TBrowseRows BrowseRowsOf(std::vector<TBrowseEntry> entries, const TBrowseQuery& query);

/// Whether a name ends in the extension of an image, or of a video: the grid shows both.
bool IsImageName(std::string_view name);
bool IsVideoName(std::string_view name);
