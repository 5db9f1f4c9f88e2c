#include "publish/FolderEntries.h"

#include "platform/Text.h"
#include "publish/HtmlText.h"

platform::TFolderEntries PublishedEntries(const std::string& folder, const TWithheldRule& rule) {
  platform::TFolderEntries entries(folder, "*.*", platform::faAnyFile & ~rule.Mask);
  // The filter picks files only: the folders stay, or nothing below the root could be reached.
  // Without one every entry stays, and none needs looking at again.
  if (rule.ExtensionFilter) {
    entries.EraseIf([&rule](const platform::TSearchRec& entry) {
      return !IsPublishedFolder(entry) && !rule.PassesExtension(entry.Name);
    });
  }
  return entries;
}

bool IsPublishedFolder(const platform::TFileInfo& entry) {
  return entry.Readable() && (entry.Attr & platform::faDirectory) != 0;
}

void AppendLinkTarget(std::string& out, std::string_view name) {
  if (platform::SystemCodePage() == platform::TCodePage::Utf8) {
    AppendPercentEncoded(out, name);
    return;
  }
  const std::string utf8 = platform::CodePageToUtf8(name);
  AppendPercentEncoded(out, platform::Utf8ToCodePage(utf8) == name ? utf8 : name);
}
