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
  auto add = [this](std::string_view piece) {
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      AddCookie(std::string(piece), "");
    } else {
      AddCookie(std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1)));
    }
  };
  // ";" and "=" lie below every trail byte of a double-byte character: plain byte searches are
  // exact, and walking by position keeps a long value linear.
  std::string_view rest = text;
  for (std::size_t semicolon = rest.find(';'); semicolon != std::string_view::npos; semicolon = rest.find(';')) {
    add(rest.substr(0, semicolon));
    rest = TrimView(rest.substr(semicolon + 1));
  }
  if (!rest.empty()) add(rest);
}

int TIdServerCookies::GetCookieIndex(const std::string& name, int from) const {
  for (int i = from < 0 ? 0 : from; i < Count(); ++i) {
    if (SameText(FItems[static_cast<std::size_t>(i)].CookieName, name)) return i;
  }
  return -1;
}
