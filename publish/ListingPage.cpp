#include "publish/ListingPage.h"

#include <charconv>

#include "platform/DateTime.h"
#include "platform/Text.h"
#include "publish/HtmlText.h"

namespace {

constexpr std::size_t kNameColumns = 41;
constexpr const char* kCrLf = "\r\n";
// What a line holds besides its name twice: markup, blanks, date, time, size and line end.
constexpr std::size_t kLineExtra = 80;

// The page's Japanese texts, held in UTF-8 here and given out in the system code page.
std::string InCodePage(std::string_view utf8) { return platform::Utf8ToCodePage(utf8); }

std::string Pattern(const TPublishSettings& settings) {
  return settings.ExtensionFilter ? "*." + settings.Extension : "*.*";
}

// Writes the line of ListingLine straight onto the end of page; folderWord is the folder word
// already in the system code page, converted once per page rather than once per folder.
void AppendLine(std::string& page, const platform::TSearchRec& entry, const platform::TRegionalFormats& formats,
                std::string_view folderWord) {
  const bool isFolder = (entry.Attr & platform::faDirectory) != 0;
  page += "<A HREF=\"./";
  // Browsers send a link's path back as UTF-8, which is what the request handler expects.
  AppendPercentEncoded(page, platform::CodePageToUtf8(entry.Name));
  if (isFolder) page += '/';
  page += "\">";
  AppendHtmlEscaped(page, entry.Name);
  page += "</A>";
  const std::size_t width = platform::DisplayWidth(entry.Name);
  if (width < kNameColumns) page.append(kNameColumns - width, ' ');

  const std::tm local = platform::LocalTm(entry.LastWrite);
  page += formats.FormatDate(local);
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
    page += ' ';
    page += formats.FormatTime(local);
  }
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

std::string ListingPage(const std::string& folder, const TPublishSettings& settings,
                        const platform::TRegionalFormats& formats) {
  const std::vector<platform::TSearchRec> entries =
      platform::FindEntries(folder, Pattern(settings), platform::faAnyFile & ~WithheldMask(settings));
  // One allocation for the whole page in the usual case, instead of a copy at every doubling.
  std::size_t expected = 256;
  for (const platform::TSearchRec& entry : entries) expected += 2 * entry.Name.size() + kLineExtra;
  std::string page;
  page.reserve(expected);
  page += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\"><HTML><HEAD><TITLE>";
  page += kCrLf;
  page += InCodePage("Velmoraファイル公開サーバ");
  page += kCrLf;
  page += "</TITLE></HEAD><BODY><HR><PRE>";
  page += kCrLf;
  const std::string folderWord = InCodePage("フォルダ");
  for (const platform::TSearchRec& entry : entries) AppendLine(page, entry, formats, folderWord);
  page += "</PRE><HR></BODY></HTML>";
  return page;
}

std::string ListingLine(const platform::TSearchRec& entry, const platform::TRegionalFormats& formats) {
  std::string line;
  AppendLine(line, entry, formats, InCodePage("フォルダ"));
  return line;
}
