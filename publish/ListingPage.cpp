#include "publish/ListingPage.h"

#include "platform/DateTime.h"
#include "platform/Text.h"
#include "publish/HtmlText.h"

namespace {

constexpr std::size_t kNameColumns = 41;
constexpr const char* kCrLf = "\r\n";

// The page's Japanese texts, held in UTF-8 here and given out in the system code page.
std::string InCodePage(std::string_view utf8) { return platform::Utf8ToCodePage(utf8); }

std::uint32_t AttributeMask(const TPublishSettings& settings) {
  std::uint32_t mask = platform::faAnyFile;
  if (settings.ExcludeReadOnly) mask -= platform::faReadOnly;
  if (settings.ExcludeHidden) mask -= platform::faHidden;
  if (settings.ExcludeSystem) mask -= platform::faSysFile;
  return mask;
}

std::string Pattern(const TPublishSettings& settings) {
  return settings.ExtensionFilter ? "*." + settings.Extension : "*.*";
}

}  // namespace

std::string ListingPage(const std::string& folder, const TPublishSettings& settings,
                        const platform::TRegionalFormats& formats) {
  std::string page = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\"><HTML><HEAD><TITLE>";
  page += kCrLf;
  page += InCodePage("Velmoraファイル公開サーバ");
  page += kCrLf;
  page += "</TITLE></HEAD><BODY><HR><PRE>";
  page += kCrLf;
  for (const platform::TSearchRec& entry : platform::FindEntries(folder, Pattern(settings), AttributeMask(settings)))
    page += ListingLine(entry, formats);
  page += "</PRE><HR></BODY></HTML>";
  return page;
}

std::string ListingLine(const platform::TSearchRec& entry, const platform::TRegionalFormats& formats) {
  const bool isFolder = (entry.Attr & platform::faDirectory) != 0;
  // Browsers send a link's path back as UTF-8, which is what the request handler expects.
  std::string target = PercentEncode(platform::CodePageToUtf8(entry.Name));
  if (isFolder) target += '/';

  std::string line = "<A HREF=\"./" + target + "\">" + HtmlEscape(entry.Name) + "</A>";
  const std::size_t width = platform::DisplayWidth(entry.Name);
  if (width < kNameColumns) line.append(kNameColumns - width, ' ');

  const std::tm local = platform::LocalTm(entry.LastWrite);
  line += formats.FormatDate(local);
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) line += ' ' + formats.FormatTime(local);
  line += "   ";
  line += isFolder ? InCodePage("フォルダ") : std::to_string(entry.Size);
  line += kCrLf;
  return line;
}
