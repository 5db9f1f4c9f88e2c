// Form and query parameters ("&"-separated, each decoded) and the cookie pairs of a "Cookie"
// header value.
// Input: one text, read both as parameters and as a cookie header value.

#include "FuzzCheck.h"
#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdURI.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The pieces between the separators. No trail byte of a double-byte character is as low as "&",
// ";" or "=", so under either code page every such byte separates.
std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t found = text.find(separator); found != std::string::npos; found = text.find(separator, start)) {
    pieces.push_back(text.substr(start, found - start));
    start = found + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

void CheckParams(const std::string& text) {
  TIdHTTPRequestInfo request;
  request.Params = {"left over"};
  request.DecodeParams(text);
  if (text.empty()) {
    FUZZ_CHECK(request.Params.empty());
    return;
  }
  const std::vector<std::string> pieces = SplitAt(text, '&');
  FUZZ_CHECK(request.Params.size() == pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) FUZZ_CHECK(request.Params[i] == TIdURI::PercentDecode(pieces[i]));
}

// What a cookie text carries besides its separators (";", "=") and the blanks around them.
std::string Visible(const std::string& text) {
  std::string visible;
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 0x20 && c != ';' && c != '=') visible += c;
  }
  return visible;
}

void CheckCookies(const std::string& text) {
  TIdServerCookies cookies;
  cookies.AddSrcCookie(text);
  FUZZ_CHECK(cookies.Count() <= static_cast<int>(SplitAt(text, ';').size()));
  std::string carried;
  for (int i = 0; i < cookies.Count(); ++i) {
    const TIdCookieRC& cookie = cookies[i];
    FUZZ_CHECK(cookie.CookieName.find_first_of(";=") == std::string::npos);
    FUZZ_CHECK(cookie.Value.find(';') == std::string::npos);
    const int first = cookies.GetCookieIndex(cookie.CookieName);
    FUZZ_CHECK(first >= 0 && first <= i);
    carried += cookie.CookieName + cookie.Value;
  }
  // Nothing of the text is lost or taken twice.
  FUZZ_CHECK(Visible(carried) == Visible(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::ForEachCodePage([&](platform::TCodePage) {
    CheckParams(text);
    CheckCookies(text);
  });
  return 0;
}
