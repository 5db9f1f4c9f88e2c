#pragma once
// The cookies of one request ("Cookie" lines) or one response ("Set-Cookie" lines).

#include <string>
#include <vector>

/// One cookie with the attributes a "Set-Cookie" line may carry.
struct TIdCookieRC {
  std::string CookieName;
  std::string Value;
  std::string Path;     // empty: not sent
  std::string Domain;   // empty: not sent
  std::string Expires;  // a header date text; empty: not sent
  bool Secure = false;

  /// The text after "Set-Cookie: ": name=value, then "; path=", "; domain=", "; expires="
  /// for each attribute that is set, and "; secure" when Secure.
  std::string ServerCookie() const;
};

/// An ordered collection of cookies, owned by one record and used by its thread only.
class TIdServerCookies {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const TIdCookieRC& operator[](int index) const { return FItems.at(static_cast<std::size_t>(index)); }
  TIdCookieRC& operator[](int index) { return FItems.at(static_cast<std::size_t>(index)); }

  /// Appends a cookie and returns it for its attributes to be filled.
  TIdCookieRC& AddCookie(const std::string& name, const std::string& value);
  /// Appends the cookies of one "Cookie" header value: each piece before a ";" is one cookie,
  /// the rest is trimmed and split further, and a non-empty remainder is the last one. A
  /// cookie's name is its text before the first "=" and its value the text after it.
  void AddSrcCookie(const std::string& text);
  /// The index of the first cookie of that name at or after from (names compared without
  /// regard to case), or -1.
  int GetCookieIndex(const std::string& name, int from = 0) const;
  void Clear() { FItems.clear(); }

private:
  std::vector<TIdCookieRC> FItems;
};
