#include "publish/HtmlText.h"

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  std::size_t plain = 0;  // the start of the run of bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      default: continue;
    }
    out.append(text, plain, i - plain);
    out += entity;
    plain = i + 1;
  }
  out.append(text, plain);
}

namespace {

bool IsUnreserved(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
         b == '_' || b == '~';
}

// bytes appended to out with every byte that kept() refuses written as "%XX".
template <typename Kept>
void AppendEncoded(std::string& out, std::string_view bytes, Kept kept) {
  static const char kHex[] = "0123456789ABCDEF";
  std::size_t plain = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (kept(b)) continue;
    out.append(bytes, plain, i - plain);
    const char escape[] = {'%', kHex[b >> 4], kHex[b & 0x0F]};
    out.append(escape, sizeof escape);
    plain = i + 1;
  }
  out.append(bytes, plain);
}

}  // namespace

void AppendPercentEncoded(std::string& out, std::string_view bytes) { AppendEncoded(out, bytes, IsUnreserved); }

void AppendQueryEncoded(std::string& out, std::string_view query) {
  static constexpr std::string_view kAlsoKept = "!$&'()*+,;=:@/?%";
  AppendEncoded(out, query, [](unsigned char b) {
    return IsUnreserved(b) || (b != 0 && kAlsoKept.find(static_cast<char>(b)) != std::string_view::npos);
  });
}

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
