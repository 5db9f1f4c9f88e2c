#include "http/protocol/IdHTTPRequestInfo.h"

#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdURI.h"

TIdHTTPRequestInfo::TIdHTTPRequestInfo() { AssignContentLength(-1); }

void TIdHTTPRequestInfo::DecodeParams(const std::string& text) {
  Params.clear();
  if (text.empty()) return;
  std::string rest = text;
  bool more = true;
  while (more) {
    more = TextPos("&", rest) > 0;
    Params.push_back(TIdURI::PercentDecode(TakeToken(rest, "&")));
  }
}
