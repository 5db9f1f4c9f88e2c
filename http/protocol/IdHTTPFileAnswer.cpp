#include "http/protocol/IdHTTPFileAnswer.h"

#include "http/protocol/IdGlobal.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

namespace {

constexpr std::int64_t kNoNumber = -1;

// The decimal digits of text as a number that stops growing at the largest one: a start or end
// beyond any file still reads as beyond it. kNoNumber for anything else, the empty text included.
std::int64_t RangeNumber(std::string_view text) {
  if (text.empty()) return kNoNumber;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return kNoNumber;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

// Whether text holds a byte above 0x7F, looked for eight bytes at a time: most text files are
// ASCII, and each is looked at whole.
bool HasNonAscii(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if ((word & kHighBits) != 0) return true;
  }
  return std::any_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
}

TIdByteRange Part(std::int64_t first, std::int64_t last) { return {TIdByteRange::rkPart, first, last}; }
TIdByteRange Whole() { return {}; }
TIdByteRange Unsatisfiable() { return {TIdByteRange::rkUnsatisfiable, 0, -1}; }

// The whole seconds of a request's date header in UTC, none when it is absent or cannot be read.
std::optional<std::int64_t> HeaderSeconds(const TIdHTTPRequestInfo& request, const char* name) {
  const platform::TDateTime value = HeaderDateToUtc(request.HeaderLines.ValueOf(name));
  if (value == 0) return std::nullopt;
  return platform::DateTimeToSeconds(value);
}

// Whether an If-None-Match value ("*", or tags separated by commas) names tag. Weak tags match
// by their opaque part, as that header compares them.
bool ListsEntityTag(std::string_view value, std::string_view tag) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view item = TrimView(value.substr(0, comma));
    if (item.starts_with("W/")) item.remove_prefix(2);
    if (item == "*" || item == tag) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

// The length of the UTF-8 sequence that lead begins, 0 for a byte that begins none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// A name's stand-in for clients that read only the plain filename: one "_" for each character
// (of however many bytes) that is not printable ASCII or would need quoting or decoding.
std::string AsciiFallback(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte >= 0x80) {
      if ((byte & 0xC0) == 0x80) continue;  // a continuation: its character has its "_" already
      result += '_';
    } else if (byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\' || byte == '%' || byte == '/') {
      result += '_';
    } else {
      result += static_cast<char>(byte);
    }
  }
  return result;
}

// The bytes of text percent-encoded except the few that a filename* value may carry as they are.
std::string PercentEncodedName(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                       std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (plain) {
      result += c;
    } else {
      result += '%';
      result += kHex[byte >> 4];
      result += kHex[byte & 0x0F];
    }
  }
  return result;
}

}  // namespace

TIdByteRange ParseByteRange(std::string_view value, std::int64_t size) {
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos || !SameText(TrimView(value.substr(0, equals)), "bytes")) return Whole();
  const std::string_view ranges = value.substr(equals + 1);
  const std::size_t dash = ranges.find('-');
  if (dash == std::string_view::npos || ranges.find(',') != std::string_view::npos) return Whole();
  const std::string_view firstText = TrimView(ranges.substr(0, dash));
  const std::string_view lastText = TrimView(ranges.substr(dash + 1));
  const std::int64_t first = RangeNumber(firstText);
  const std::int64_t last = RangeNumber(lastText);

  if (firstText.empty()) {
    // "-n": the last n bytes.
    if (last == kNoNumber) return Whole();
    if (last == 0 || size == 0) return Unsatisfiable();
    return Part(size - std::min(last, size), size - 1);
  }
  if (first == kNoNumber) return Whole();
  if (lastText.empty()) {
    // "a-": from a to the end.
    return first < size ? Part(first, size - 1) : Unsatisfiable();
  }
  if (last == kNoNumber || last < first) return Whole();
  return first < size ? Part(first, std::min(last, size - 1)) : Unsatisfiable();
}

TIdFileAnswer PlanFileAnswer(const TIdHTTPRequestInfo& request, std::int64_t size, platform::TDateTime written,
                             std::string_view entityTag) {
  const TIdFileAnswer whole{200, 0, size};
  if (request.Command != "GET" && request.Command != "HEAD") return whole;
  const bool validated = written > 0;
  const std::int64_t modified = validated ? platform::DateTimeToSeconds(written) : 0;

  // A client that holds a tag asks by the tag alone; its date, if any, is older knowledge.
  const std::string noneMatch = request.HeaderLines.ValueOf("If-None-Match");
  if (!entityTag.empty() && !noneMatch.empty()) {
    if (ListsEntityTag(noneMatch, entityTag)) return {304, 0, 0};
  } else if (validated) {
    const std::optional<std::int64_t> since = HeaderSeconds(request, "If-Modified-Since");
    if (since && *since >= modified) return {304, 0, 0};
  }
  const std::string range = request.HeaderLines.ValueOf("Range");
  if (range.empty()) return whole;
  if (const std::string ifRange = Trim(request.HeaderLines.ValueOf("If-Range")); !ifRange.empty()) {
    // The range is kept only for the very copy the client has: the same strong tag, or the same
    // Last-Modified. A weak tag never keeps it, since it allows other bytes.
    if (ifRange.starts_with('"') || ifRange.starts_with("W/")) {
      if (entityTag.empty() || ifRange != entityTag) return whole;
    } else {
      const std::optional<std::int64_t> date = HeaderSeconds(request, "If-Range");
      if (!validated || !date || *date != modified) return whole;
    }
  }
  const TIdByteRange asked = ParseByteRange(range, size);
  switch (asked.Kind) {
    case TIdByteRange::rkPart:
      return {206, asked.First, asked.Last - asked.First + 1};
    case TIdByteRange::rkUnsatisfiable:
      return {416, 0, 0};
    case TIdByteRange::rkWhole:
      break;
  }
  return whole;
}

void DescribeRangeAnswer(TIdHTTPResponseInfo& response, const TIdFileAnswer& answer, std::int64_t size) {
  response.SetStatusCode(answer.StatusCode);
  const std::string sizeText = std::to_string(size);
  switch (answer.StatusCode) {
    case 206:
      response.ContentRange = "bytes " + std::to_string(answer.Offset) + "-" +
                              std::to_string(answer.Offset + answer.Count - 1) + "/" + sizeText;
      response.AssignContentLength(answer.Count);
      break;
    case 304:
      response.AssignContentLength(-1);
      break;
    case 416:
      response.ContentRange = "bytes */" + sizeText;
      response.ContentType = "text/html";
      response.BodyText = response.StatusPage();
      response.AssignContentLength(-1);
      break;
    default:
      response.AssignContentLength(size);
  }
}

platform::TDateTime LastModifiedOf(std::time_t moment) {
  return platform::IncDateTime(platform::UtcDateTime(moment), LocalUtcOffset());
}

std::string ContentDispositionOf(std::string_view name, std::string_view kind) {
  const std::string utf8 = platform::CodePageToUtf8(name);
  return std::string(kind) + "; filename=\"" + AsciiFallback(utf8) + "\"; filename*=UTF-8''" + PercentEncodedName(utf8);
}

bool IsUtf8Text(std::string_view start, bool wholeFile) {
  if (!wholeFile) {
    // A character that the cut at the end of start split in two is taken as whole.
    for (std::size_t back = 1; back <= 3 && back <= start.size(); ++back) {
      const auto byte = static_cast<unsigned char>(start[start.size() - back]);
      if ((byte & 0xC0) == 0x80) continue;
      if (SequenceLength(byte) > back) start.remove_suffix(back);
      break;
    }
  }
  return HasNonAscii(start) && platform::IsValidUtf8(start);
}
