#include "publish/BrowseJson.h"

#include <algorithm>

#include "publish/FolderEntries.h"
#include "publish/HtmlText.h"

namespace {

// A row of a usual name, for the room the text is given from the start.
constexpr std::size_t kRowGuess = 112;

// text (UTF-8) as a JSON string. "<", ">" and "&" are escaped too, so that the text stays inert
// wherever a page or a script may paste it.
void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

void BrowseJson(TBodySink& sink, const TBrowseFolder& folder) {
  // Built in one buffer of about its size, which then becomes the sink's body without a copy.
  const std::size_t block = sink.MemoryLimit();
  std::string json;
  json.reserve(std::min(block, 256 + folder.Rows.Rows.size() * kRowGuess));
  json += "{\"path\": ";
  AppendJsonString(json, ShownPath(folder.Path));
  json += ", \"total\": ";
  AppendNumber(json, static_cast<std::int64_t>(folder.Rows.Total));
  json += ", \"entries\": [";
  bool first = true;
  TIsoDates dates;
  std::string shown;
  for (const TBrowseEntry& entry : folder.Rows.Rows) {
    const bool isFolder = IsPublishedFolder(*entry.Info);
    json += first ? "\n" : ",\n";
    first = false;
    json += "{\"name\": ";
    bool repaired = false;
    AppendJsonString(json, ShownName(entry.Name, shown, repaired));
    if (repaired) {
      std::string href;
      AppendPercentEncoded(href, entry.Name);
      if (isFolder) href += '/';
      json += ", \"href\": ";
      AppendJsonString(json, href);
    }
    json += isFolder ? ", \"type\": \"folder\", \"size\": " : ", \"type\": \"file\", \"size\": ";
    AppendNumber(json, isFolder ? 0 : entry.Info->Size);
    json += ", \"modified\": \"";
    json += dates.Text(entry.Info->LastWrite);
    json += "\"}";
    if (json.size() >= block) {
      sink.AppendMoved(std::move(json));
      json.clear();
    }
  }
  json += "]}\n";
  sink.AppendMoved(std::move(json));
}
