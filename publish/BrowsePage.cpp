#include "publish/BrowsePage.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/Text.h"
#include "publish/FolderEntries.h"
#include "publish/HtmlText.h"

namespace {

// The fixed parts of a page (style, script, icons, header) and a row of a usual name, for the
// room a page is given from the start.
constexpr std::size_t kFixedGuess = 16 * 1024;
constexpr std::size_t kRowGuess = 480;

// One symbol per kind, drawn once and used by every row.
constexpr const char* kIcons =
    "<svg hidden xmlns=\"http://www.w3.org/2000/svg\">"
    "<symbol id=\"i-dir\" viewBox=\"0 0 24 24\"><path d=\"M2 6a2 2 0 0 1 2-2h5l2 2h9a2 2 0 0 1 2 2v10a2 2 0 0 "
    "1-2 2H4a2 2 0 0 1-2-2z\"/></symbol>"
    "<symbol id=\"i-file\" viewBox=\"0 0 24 24\"><path d=\"M6 2h8l6 6v12a2 2 0 0 1-2 2H6a2 2 0 0 1-2-2V4a2 2 0 0 "
    "1 2-2zm7 1v6h6z\" fill-rule=\"evenodd\"/></symbol>"
    "<symbol id=\"i-pic\" viewBox=\"0 0 24 24\"><path d=\"M4 4h16a2 2 0 0 1 2 2v12a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2V6a2 "
    "2 0 0 1 2-2zm1 13h14l-4.5-6-3.5 4.5-2.5-3z\" fill-rule=\"evenodd\"/></symbol></svg>";

// A query link to this folder: "?browse" and the options, HTML-escaped for an attribute.
void AppendBrowseLink(std::string& out, const TBrowseQuery& query) {
  out += "?browse";
  AppendHtmlEscaped(out, BrowseQueryText(query));
}

void AppendCrumbs(std::string& page, const std::string& path, const TBrowseTexts& texts) {
  page += "<nav class=\"crumbs\"><a href=\"/?browse\">/</a>";
  std::string target = "/";
  for (std::size_t start = 1; start < path.size();) {
    const std::size_t slash = path.find('/', start);
    const std::string segment = path.substr(start, slash - start);
    AppendPercentEncoded(target, segment);
    target += '/';
    page += "<a href=\"";
    page += target;
    page += "?browse\">";
    AppendHtmlEscaped(page, ShownPath(segment));
    page += "</a>/";
    start = slash == std::string::npos ? path.size() : slash + 1;
  }
  page += "</nav>";
  if (path != "/") {
    page += "<div class=\"tools\"><a href=\"../?browse\">..&#8203; ";
    page += texts.Up;
    page += "</a></div>";
  }
}

void AppendHead(std::string& page, const TBrowseFolder& folder, const TBrowseQuery& query, const TBrowseTexts& texts) {
  const std::string title = ShownPath(folder.Path);
  page += "<!DOCTYPE html><html lang=\"";
  page += texts.Lang;
  page += "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
          "<meta name=\"referrer\" content=\"no-referrer\"><title>";
  AppendHtmlEscaped(page, title);
  page += "</title><style>";
  page += kBrowseStyle;
  page += "</style></head><body data-copied=\"";
  page += texts.Copied;
  page += "\">";
  page += kIcons;
  page += "<header>";
  AppendCrumbs(page, folder.Path, texts);
  page += "<div class=\"tools\"><a href=\"./?zip\" download>ZIP</a><a href=\"./?tar\" download>TAR</a>";
  TBrowseQuery other = query;
  other.Grid = !query.Grid;
  page += "<a href=\"";
  AppendBrowseLink(page, other);
  page += "\">";
  page += query.Grid ? texts.List : texts.Grid;
  page += "</a></div><form class=\"filter\" method=\"get\" action=\"./\"><input type=\"hidden\" name=\"browse\">";
  // The form keeps the order and the view; the filter replaces itself.
  if (query.Sort != TBrowseSort::Name)
    page += query.Sort == TBrowseSort::Date ? "<input type=\"hidden\" name=\"sort\" value=\"date\">"
                                             : "<input type=\"hidden\" name=\"sort\" value=\"size\">";
  if (query.Descending) page += "<input type=\"hidden\" name=\"order\" value=\"desc\">";
  if (query.Grid) page += "<input type=\"hidden\" name=\"view\" value=\"grid\">";
  page += "<input type=\"search\" name=\"q\" aria-label=\"";
  page += texts.Filter;
  page += "\" placeholder=\"";
  page += texts.Filter;
  page += "\" value=\"";
  AppendHtmlEscaped(page, query.Filter);
  page += "\"></form></header><main><div class=\"heads\">";
  const std::pair<TBrowseSort, const char*> heads[] = {
      {TBrowseSort::Name, texts.Name}, {TBrowseSort::Date, texts.Date}, {TBrowseSort::Size, texts.Size}};
  for (const auto& [sort, label] : heads) {
    TBrowseQuery sorted = query;
    sorted.Sort = sort;
    // A second click on the current column turns its order round.
    sorted.Descending = sort == query.Sort && !query.Descending;
    page += "<a href=\"";
    AppendBrowseLink(page, sorted);
    // The query text leaves the default order out; the script reads the column from the link.
    page += sort == TBrowseSort::Name ? "&amp;sort=name\"" : "\"";
    if (sort == query.Sort) page += " aria-current=\"true\"";
    page += ">";
    page += label;
    if (sort == query.Sort) page += query.Descending ? " &#9660;" : " &#9650;";
    page += "</a>";
  }
  page += "</div><ul id=\"rows\"";
  if (query.Grid) page += " class=\"grid\"";
  page += ">";
}

// The parts of a row that depend only on its date: rows of one folder often share their second
// (a copied or unpacked tree), so those of the last date are kept.
class TRowDates {
public:
  // From the date attribute to the icon's name: '" data-t="SECONDS"><svg ...#i-'.
  const std::string& Stamp() const { return FStamp; }
  // From the size to the first action's link: '</span><time datetime="ISO">ISO</time>...href="'.
  const std::string& Middle() const { return FMiddle; }

  void Set(std::time_t moment) {
    if (!FStamp.empty() && moment == FMoment) return;
    FMoment = moment;
    FStamp = "\" data-t=\"";
    AppendNumber(FStamp, moment);
    FStamp += "\"><svg class=\"icon\" aria-hidden=\"true\"><use href=\"#i-";
    const std::string iso = IsoUtc(moment);
    FMiddle = "</span><time datetime=\"";
    FMiddle += iso;
    FMiddle += "\">";
    FMiddle += iso;
    FMiddle += "</time></div><div class=\"acts\"><a href=\"";
  }

private:
  std::time_t FMoment = 0;
  std::string FStamp;  // empty until the first row
  std::string FMiddle;
};

// What the rows of one page share or need anew, made once so that a row costs no allocation
// and few appends.
struct TRowParts {
  explicit TRowParts(const TBrowseTexts& texts)
      : SizeEnd(std::string(" ") + texts.Bytes + "\">"),
        FileEnd(std::string("\" download>") + texts.Download + "</a><button type=\"button\" class=\"copy\" hidden>" +
                texts.CopyLink + "</button></div></li>") {}

  const std::string SizeEnd;  // after the exact size in a file's title
  const std::string FileEnd;  // a file row from its download link's target on
  TRowDates Dates;
  std::string Target;  // the row's link: "./", the name percent-encoded, "/" for a folder
  std::string Shown;   // the name as UTF-8, when it is not that already
};

void AppendRow(std::string& page, const TBrowseEntry& entry, bool grid, TRowParts& parts) {
  const platform::TFileInfo& info = *entry.Info;
  const bool isFolder = IsPublishedFolder(info);
  const bool image = !isFolder && IsImageName(entry.Name);
  const bool picture = image || (!isFolder && IsVideoName(entry.Name));
  bool repaired = false;
  const std::string_view name = ShownName(entry.Name, parts.Shown, repaired);
  std::string& target = parts.Target;
  target.assign("./");
  AppendLinkTarget(target, entry.Name);
  if (isFolder) target += '/';
  parts.Dates.Set(info.LastWrite);

  page += isFolder                ? "<li class=\"row dir\" data-s=\""
          : picture && grid ? "<li class=\"row pic\" data-s=\""
                            : "<li class=\"row\" data-s=\"";
  AppendNumber(page, isFolder ? 0 : info.Size);
  page += parts.Dates.Stamp();
  page += isFolder ? "dir\"/></svg><a class=\"name" : picture ? "pic\"/></svg><a class=\"name" : "file\"/></svg><a class=\"name";
  // Only an image opens in the viewer; a video opens on its own.
  page += image && grid ? " view\" href=\"" : "\" href=\"";
  page += target;
  page += isFolder ? "?browse\">" : "\">";
  if (picture && grid) {
    page += "<img class=\"thumb\" loading=\"lazy\" width=\"160\" height=\"160\" alt=\"\" src=\"";
    page += target;
    page += "?thumb\" srcset=\"";
    page += target;
    page += "?thumb 1x, ";
    page += target;
    page += "?thumb=640 2x\">";
  }
  AppendHtmlEscaped(page, name);
  if (isFolder) {
    page += "/</a><div class=\"meta\"><span>";
  } else {
    page += "</a><div class=\"meta\"><span title=\"";
    AppendNumber(page, info.Size);
    page += parts.SizeEnd;
    page += HumanSize(info.Size);
  }
  page += parts.Dates.Middle();
  page += target;
  if (isFolder) {
    page += "?zip\" download>ZIP</a><a href=\"";
    page += target;
    page += "?tar\" download>TAR</a></div></li>";
  } else {
    // The copy button takes the address of the row's own link.
    page += parts.FileEnd;
  }
}

}  // namespace

void AppendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::string ShownPath(const std::string& path) {
  if (platform::IsValidUtf8(path)) return path;
  std::string shown;
  bool repaired = false;
  return std::string(ShownName(path, shown, repaired));
}

std::string_view ShownName(std::string_view name, std::string& spare, bool& repaired) {
  repaired = false;
  // ASCII is the same text in every code page.
  if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return name;
  if (platform::SystemCodePage() == platform::TCodePage::Utf8 && platform::IsValidUtf8(name)) return name;
  spare = platform::CodePageToUtf8(name);
  repaired = platform::Utf8ToCodePage(spare) != name;
  return spare;
}

std::string HumanSize(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  // Rounded as it will be shown, so that 1,048,575 bytes read "1.0 MB", not "1024 KB".
  while (unit + 1 < std::size(kUnits) && value >= 1024 - 0.5) {
    value /= 1024;
    ++unit;
    if (value < 10 - 0.05) break;
  }
  char text[32];
  if (value < 10 - 0.05)
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  return text;
}

std::string IsoUtc(std::time_t moment) {
  std::tm utc{};
  gmtime_r(&moment, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const std::string& TIsoDates::Text(std::time_t moment) {
  if (FText.empty() || moment != FMoment) {
    FText = IsoUtc(moment);
    FMoment = moment;
  }
  return FText;
}

void BrowsePage(TBodySink& sink, const TBrowseFolder& folder, const TBrowseQuery& query, const TBrowseTexts& texts) {
  // The page is built in one buffer of about its size, which then becomes the sink's body without
  // a copy. A page longer than the sink keeps in memory goes to it a part at a time instead.
  const std::size_t block = sink.MemoryLimit();
  std::string page;
  page.reserve(std::min(block, kFixedGuess + folder.Rows.Rows.size() * kRowGuess));
  AppendHead(page, folder, query, texts);
  TRowParts parts(texts);
  for (const TBrowseEntry& entry : folder.Rows.Rows) {
    AppendRow(page, entry, query.Grid, parts);
    if (page.size() >= block) {
      sink.AppendMoved(std::move(page));
      page.clear();
    }
  }
  page += "</ul>";
  const std::size_t shownTo = query.Offset + folder.Rows.Rows.size();
  if (shownTo < folder.Rows.Total) {
    page += "<a id=\"more\" href=\"";
    AppendBrowseLink(page, query);
    page += "&amp;offset=";
    AppendNumber(page, static_cast<std::int64_t>(shownTo));
    page += "\">";
    page += texts.More;
    page += "</a>";
  }
  page += "</main><div id=\"viewer\" hidden><img alt=\"\"><button type=\"button\" id=\"prev\" aria-label=\"";
  page += texts.Previous;
  page += "\">&#8249;</button><button type=\"button\" id=\"next\" aria-label=\"";
  page += texts.Next;
  page += "\">&#8250;</button><button type=\"button\" id=\"close\" aria-label=\"";
  page += texts.Close;
  page += "\">&#215;</button></div><script>";
  page += kBrowseScript;
  page += "</script></body></html>";
  sink.AppendMoved(std::move(page));
}
