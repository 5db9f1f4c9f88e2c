#include "http/protocol/IdHTTPPersistence.h"

#include <algorithm>
#include <string_view>

#include "http/protocol/IdGlobal.h"

namespace {

constexpr std::size_t kMaxLengthDigits = 18;

// Whether one of the comma-separated tokens of the values is token, in any letter case.
bool ListsToken(const std::vector<std::string>& values, const std::string& token) {
  for (const std::string& value : values) {
    std::string rest = value;
    while (!rest.empty()) {
      if (SameText(Trim(TakeToken(rest, ",")), token)) return true;
    }
  }
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsPlainDecimal(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Leading zeros aside, so that "05" and "5" count as one length.
std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
}

}  // namespace

bool ClientKeepsConnection(const std::string& version, const std::vector<std::string>& connectionValues) {
  if (version == "HTTP/1.1") return !ListsToken(connectionValues, "close");
  if (version == "HTTP/1.0")
    return ListsToken(connectionValues, "keep-alive") && !ListsToken(connectionValues, "close");
  return false;
}

bool HasAmbiguousFraming(const std::vector<std::string>& headerLines) {
  std::string_view length;  // the first Content-Length, its leading zeros dropped
  bool lengthSeen = false;
  for (const std::string& line : headerLines) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      // A line without a name of its own continues the one before it in some readers only.
      if (!line.empty() && IsBlank(line.front())) return true;
      continue;
    }
    const std::string_view name(line.data(), colon);
    if (std::any_of(name.begin(), name.end(), IsBlank)) return true;
    if (SameText(name, "Transfer-Encoding")) return true;
    if (!SameText(name, "Content-Length")) continue;
    const std::string_view value = TrimBlanks(std::string_view(line).substr(colon + 1));
    // Beyond 18 digits a length no longer fits the reader's number, which would take it for none.
    if (!IsPlainDecimal(value) || WithoutLeadingZeros(value).size() > kMaxLengthDigits) return true;
    if (lengthSeen && WithoutLeadingZeros(value) != length) return true;
    length = WithoutLeadingZeros(value);
    lengthSeen = true;
  }
  return false;
}
