#include "http/protocol/IdServerCookies.h"

#include "http/protocol/IdGlobal.h"

std::string TIdCookieRC::ServerCookie() const {
  std::string text = CookieName + "=" + Value;
  if (!Path.empty()) text += "; path=" + Path;
  if (!Domain.empty()) text += "; domain=" + Domain;
  if (!Expires.empty()) text += "; expires=" + Expires;
  if (Secure) text += "; secure";
  return text;
}

TIdCookieRC& TIdServerCookies::AddCookie(const std::string& name, const std::string& value) {
  TIdCookieRC& cookie = FItems.emplace_back();
  cookie.CookieName = name;
  cookie.Value = value;
  return cookie;
}

void TIdServerCookies::AddSrcCookie(const std::string& text) {
  auto add = [this](std::string piece) {
    const std::string name = TakeToken(piece, "=");
    AddCookie(name, piece);
  };
  std::string rest = text;
  while (TextPos(";", rest) > 0) {
    add(TakeToken(rest, ";"));
    rest = Trim(rest);
  }
  if (!rest.empty()) add(rest);
}

int TIdServerCookies::GetCookieIndex(const std::string& name, int from) const {
  for (int i = from < 0 ? 0 : from; i < Count(); ++i) {
    if (SameText(FItems[static_cast<std::size_t>(i)].CookieName, name)) return i;
  }
  return -1;
}
