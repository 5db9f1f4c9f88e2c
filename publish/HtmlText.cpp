#include "publish/HtmlText.h"

#include <array>

namespace {

// Which bytes pass unchanged, one table per rule: a listing runs every name through two of
// them, and a look-up is cheaper than a chain of comparisons.
using TByteSet = std::array<bool, 256>;

constexpr TByteSet Unreserved() {
  TByteSet set{};
  for (int b = 0; b < 256; ++b) {
    set[b] = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
             b == '_' || b == '~';
  }
  return set;
}

constexpr TByteSet QueryKept() {
  TByteSet set = Unreserved();
  for (const char c : std::string_view("!$&'()*+,;=:@/?%")) set[static_cast<unsigned char>(c)] = true;
  return set;
}

constexpr TByteSet HtmlPlain() {
  TByteSet set{};
  for (int b = 0; b < 256; ++b) set[b] = b != '&' && b != '<' && b != '>' && b != '"';
  return set;
}

constexpr TByteSet kUnreserved = Unreserved();
constexpr TByteSet kQueryKept = QueryKept();
constexpr TByteSet kHtmlPlain = HtmlPlain();

// The offset of the first byte of text from start on that kept does not hold; text.size() when
// there is none.
std::size_t NextRefused(std::string_view text, std::size_t start, const TByteSet& kept) {
  while (start < text.size() && kept[static_cast<unsigned char>(text[start])]) ++start;
  return start;
}

// bytes appended to out with every byte that kept refuses written as "%XX".
void AppendEncoded(std::string& out, std::string_view bytes, const TByteSet& kept) {
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t plain = 0; plain < bytes.size();) {
    const std::size_t refused = NextRefused(bytes, plain, kept);
    out.append(bytes.data() + plain, refused - plain);
    if (refused == bytes.size()) break;
    const auto b = static_cast<unsigned char>(bytes[refused]);
    const char escape[] = {'%', kHex[b >> 4], kHex[b & 0x0F]};
    out.append(escape, sizeof escape);
    plain = refused + 1;
  }
}

std::string_view EntityOf(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return "&quot;";
  }
}

}  // namespace

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (std::size_t plain = 0; plain < text.size();) {
    const std::size_t special = NextRefused(text, plain, kHtmlPlain);
    out.append(text.data() + plain, special - plain);
    if (special == text.size()) break;
    out += EntityOf(text[special]);
    plain = special + 1;
  }
}

void AppendPercentEncoded(std::string& out, std::string_view bytes) { AppendEncoded(out, bytes, kUnreserved); }

void AppendQueryEncoded(std::string& out, std::string_view query) { AppendEncoded(out, query, kQueryKept); }

std::string HtmlEscape(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  AppendHtmlEscaped(result, text);
  return result;
}

std::string PercentEncode(std::string_view bytes) {
  std::string result;
  result.reserve(bytes.size());
  AppendPercentEncoded(result, bytes);
  return result;
}
