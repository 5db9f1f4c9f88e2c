#include "http/protocol/IdHTTPRequestInfo.h"

#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdURI.h"

TIdHTTPRequestInfo::TIdHTTPRequestInfo() { AssignContentLength(-1); }

void TIdHTTPRequestInfo::DecodeParams(const std::string& text) {
  Params.clear();
  if (text.empty()) return;
  // "&" lies below every trail byte of a double-byte character: a plain byte search is exact,
  // and walking by position keeps a long text linear.
  for (std::size_t start = 0;;) {
    const std::size_t ampersand = text.find('&', start);
    Params.push_back(TIdURI::PercentDecode(text.substr(start, ampersand - start)));
    if (ampersand == std::string::npos) return;
    start = ampersand + 1;
  }
}
