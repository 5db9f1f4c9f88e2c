#include "publish/BrowseQuery.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>
#include <string_view>

#include "platform/Text.h"
#include "publish/FolderEntries.h"
#include "publish/HtmlText.h"

namespace {

// A count too large to hold reads as the largest: it still lies past every row.
bool ReadCount(std::string_view text, std::size_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size() || text.empty()) return false;
  if (error == std::errc::result_out_of_range) value = SIZE_MAX;
  return error == std::errc() || error == std::errc::result_out_of_range;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
  return lower;
}

template <std::size_t N>
bool EndsInOneOf(std::string_view name, const std::string_view (&extensions)[N]) {
  return std::any_of(std::begin(extensions), std::end(extensions), [name](std::string_view extension) {
    return name.size() >= extension.size() &&
           std::equal(extension.begin(), extension.end(), name.end() - static_cast<std::ptrdiff_t>(extension.size()),
                      [](char wanted, char c) { return wanted == LowerAscii(c); });
  });
}

// Sorts [first, last) by key, equal keys keeping their order. The keys are read once, and the
// sort moves pairs of key and position, which compare as two integers.
template <class TIterator, class TKey>
void SortByKey(TIterator first, TIterator last, const TKey& key, bool descending) {
  std::vector<std::pair<std::int64_t, std::uint32_t>> keyed;
  keyed.reserve(static_cast<std::size_t>(last - first));
  for (TIterator it = first; it != last; ++it) keyed.emplace_back(key(*it), static_cast<std::uint32_t>(it - first));
  std::sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
    if (a.first != b.first) return descending ? b.first < a.first : a.first < b.first;
    return a.second < b.second;
  });
  const std::vector<typename std::iterator_traits<TIterator>::value_type> unsorted(first, last);
  for (const auto& item : keyed) *first++ = unsorted[item.second];
}

}  // namespace

TBrowseQuery BrowseQueryOf(const std::vector<std::string>& params) {
  TBrowseQuery query;
  for (const std::string& param : params) {
    const std::size_t equals = param.find('=');
    const std::string_view name = std::string_view(param).substr(0, equals);
    const std::string_view value =
        equals == std::string::npos ? std::string_view() : std::string_view(param).substr(equals + 1);
    std::size_t number = 0;
    if (name == "sort") {
      if (value == "name") query.Sort = TBrowseSort::Name;
      if (value == "date") query.Sort = TBrowseSort::Date;
      if (value == "size") query.Sort = TBrowseSort::Size;
    } else if (name == "order") {
      if (value == "asc" || value == "desc") query.Descending = value == "desc";
    } else if (name == "page") {
      // A page number far past the end must not wrap round to an early page.
      if (ReadCount(value, number) && number >= 1)
        query.Offset = number - 1 > SIZE_MAX / kBrowsePageRows ? SIZE_MAX : (number - 1) * kBrowsePageRows;
    } else if (name == "offset") {
      if (ReadCount(value, number)) query.Offset = number;
    } else if (name == "q") {
      query.Filter = value;
    } else if (name == "view") {
      if (value == "grid" || value == "list") query.Grid = value == "grid";
    }
  }
  return query;
}

bool IsBrowseRequest(const std::vector<std::string>& params) {
  if (params.empty()) return false;
  const std::string_view first = std::string_view(params.front()).substr(0, params.front().find('='));
  return first == "browse" || first == "json";
}

std::string BrowseQueryText(const TBrowseQuery& query) {
  std::string text;
  if (query.Sort == TBrowseSort::Date) text += "&sort=date";
  if (query.Sort == TBrowseSort::Size) text += "&sort=size";
  if (query.Descending) text += "&order=desc";
  if (!query.Filter.empty()) {
    text += "&q=";
    AppendPercentEncoded(text, query.Filter);
  }
  if (query.Grid) text += "&view=grid";
  return text;
}

std::vector<TBrowseEntry> BrowseEntriesOf(const platform::TFolderEntries& entries) {
  std::vector<TBrowseEntry> rows;
  rows.reserve(entries.Size());
  for (std::size_t i = 0; i < entries.Size(); ++i) rows.push_back({entries.Name(i), &entries.Info(i)});
  return rows;
}

TBrowseRows BrowseRowsOf(std::vector<TBrowseEntry> entries, const TBrowseQuery& query) {
  const std::string filter = LowerAscii(query.Filter);
  std::erase_if(entries, [&filter](const TBrowseEntry& entry) {
    if (entry.Name == "." || entry.Name == "..") return true;
    return !filter.empty() && LowerAscii(platform::CodePageToUtf8(entry.Name)).find(filter) == std::string::npos;
  });
  // The folder's own order is the name order: folders are moved first keeping it, and a stable
  // sort by another key keeps it among equal keys.
  if (query.Descending && query.Sort == TBrowseSort::Name) std::reverse(entries.begin(), entries.end());
  const auto files = std::stable_partition(entries.begin(), entries.end(),
                                           [](const TBrowseEntry& entry) { return IsPublishedFolder(*entry.Info); });
  if (query.Sort != TBrowseSort::Name) {
    const auto key = [&query](const TBrowseEntry& entry) -> std::int64_t {
      // Folders have no size of their own: among themselves they keep the name order.
      if (query.Sort == TBrowseSort::Size) return IsPublishedFolder(*entry.Info) ? 0 : entry.Info->Size;
      return entry.Info->LastWrite;
    };
    SortByKey(entries.begin(), files, key, query.Descending);
    SortByKey(files, entries.end(), key, query.Descending);
  }
  TBrowseRows rows;
  rows.Total = entries.size();
  const std::size_t first = std::min(query.Offset, entries.size());
  const std::size_t last = first + std::min(kBrowsePageRows, entries.size() - first);
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(last), entries.end());
  entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(first));
  rows.Rows = std::move(entries);
  return rows;
}

bool IsImageName(std::string_view name) {
  static constexpr std::string_view kExtensions[] = {".jpg", ".jpeg", ".png", ".gif", ".webp", ".bmp", ".avif"};
  return EndsInOneOf(name, kExtensions);
}

bool IsVideoName(std::string_view name) {
  static constexpr std::string_view kExtensions[] = {".mp4", ".mov", ".webm", ".m4v", ".mkv"};
  return EndsInOneOf(name, kExtensions);
}
