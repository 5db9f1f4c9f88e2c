#include "publish/ListingPage.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Text.h"
#include "publish/FolderEntries.h"
#include "publish/HtmlText.h"
#include "publish/WithheldRule.h"

namespace {

constexpr std::size_t kNameColumns = 41;
constexpr const char* kCrLf = "\r\n";
// What a line holds besides its name twice: markup, blanks, date, time, size and line end.
constexpr std::size_t kLineExtra = 80;
// A line of a usual name, for the room a page is given from the start.
constexpr std::size_t kLineGuess = kLineExtra + 2 * 16;

// The page's Japanese texts, held in UTF-8 here and given out in the system code page.
std::string InCodePage(std::string_view utf8) { return platform::Utf8ToCodePage(utf8); }

// The name as the page shows it: a byte that is no character of the code page shows as U+FFFD
// (as "?" in Shift-JIS, which has no such character), so that the page stays well-formed text.
// Written into repaired when it differs from name; the usual name is not copied.
std::string_view VisibleName(std::string_view name, std::string& repaired) {
  if (platform::SystemCodePage() == platform::TCodePage::Utf8) {
    if (platform::IsValidUtf8(name)) return name;
    repaired = platform::CodePageToUtf8(name);
  } else {
    repaired = platform::Utf8ToCodePage(platform::CodePageToUtf8(name));
  }
  return repaired;
}

bool IsAscii(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The date column of one page: the local date, and the time unless it is exactly midnight, of a
// last-write time. The entries of a folder often share their second (a copied or unpacked tree),
// and a local time costs a look at the zone's rules, so the last one written is kept.
class TDateColumn {
public:
  explicit TDateColumn(const platform::TRegionalFormats& formats) : FFormats(formats) {}

  std::string_view Text(std::time_t lastWrite) {
    if (FText.empty() || lastWrite != FLastWrite) {
      const std::tm local = platform::LocalTm(lastWrite);
      FText = FFormats.FormatDate(local);
      if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        FText += ' ';
        FText += FFormats.FormatTime(local);
      }
      FLastWrite = lastWrite;
    }
    return FText;
  }

private:
  const platform::TRegionalFormats& FFormats;
  std::time_t FLastWrite = 0;
  std::string FText;  // empty until the first entry
};

// Writes the line of ListingLine straight onto the end of page; folderWord is the folder word
// already in the system code page, converted once per page rather than once per folder.
void AppendLine(std::string& page, std::string_view entryName, const platform::TFileInfo& entry, TDateColumn& dates,
                std::string_view folderWord) {
  const bool isFolder = (entry.Attr & platform::faDirectory) != 0;
  page += "<A HREF=\"./";
  AppendLinkTarget(page, entryName);
  if (isFolder) page += '/';
  page += "\">";
  // An ASCII name (most of them) is the same text in every code page, one column a byte.
  std::string repaired;
  const bool ascii = IsAscii(entryName);
  const std::string_view name = ascii ? entryName : VisibleName(entryName, repaired);
  AppendHtmlEscaped(page, name);
  page += "</A>";
  // A long name keeps one blank before the date, so that the two never run together.
  const std::size_t width = ascii ? name.size() : platform::DisplayWidth(name);
  page.append(width + 1 < kNameColumns ? kNameColumns - width : 1, ' ');

  page += dates.Text(entry.LastWrite);
  page += "   ";
  if (isFolder) {
    page += folderWord;
  } else {
    char digits[24];
    page.append(digits, std::to_chars(digits, digits + sizeof digits, entry.Size).ptr);
  }
  page += kCrLf;
}

}  // namespace

void ListingPage(TBodySink& sink, const std::string& folder, const TPublishSettings& settings,
                 const platform::TRegionalFormats& formats) {
  const platform::TFolderEntries entries = PublishedEntries(folder, WithheldRuleOf(settings));
  // The page is built in one buffer of about its size, which then becomes the sink's body without
  // a copy. A page longer than the sink keeps in memory goes to it a part at a time instead.
  const std::size_t block = sink.MemoryLimit();
  std::string page;
  page.reserve(std::min(block, (entries.Size() + 4) * kLineGuess));
  page += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\"><HTML><HEAD><TITLE>";
  page += kCrLf;
  page += InCodePage("Velmoraファイル公開サーバ");
  page += kCrLf;
  page += "</TITLE></HEAD><BODY><HR><PRE>";
  page += kCrLf;
  const std::string folderWord = InCodePage("フォルダ");
  TDateColumn dates(formats);
  for (std::size_t i = 0; i < entries.Size(); ++i) {
    AppendLine(page, entries.Name(i), entries.Info(i), dates, folderWord);
    if (page.size() >= block) {
      sink.AppendMoved(std::move(page));
      page.clear();
    }
  }
  page += "</PRE><HR></BODY></HTML>";
  sink.AppendMoved(std::move(page));
}

std::string ListingLine(const platform::TSearchRec& entry, const platform::TRegionalFormats& formats) {
  std::string line;
  TDateColumn dates(formats);
  AppendLine(line, entry.Name, entry, dates, InCodePage("フォルダ"));
  return line;
}
