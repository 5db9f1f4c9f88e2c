#include "http/protocol/IdURI.h"

#include "http/protocol/IdGlobal.h"
#include "http/net/IdIPAddress.h"
#include "platform/CodePage.h"

namespace {

// Backslashes become slashes; the trail byte of a double-byte character is left alone.
std::string ForwardSlashes(std::string text) {
  for (std::size_t i = 0; i < text.size(); i += platform::CharLength(text, i)) {
    if (text[i] == '\\') text[i] = '/';
  }
  return text;
}

// The 1-based position of the last "/" at or before pos (the whole text when pos is 0), or 0.
// No trail byte of the code pages in use equals "/", so a backward byte search is safe.
int LastSlashAtOrBefore(const std::string& text, int pos) {
  const std::size_t limit = pos == 0 ? std::string::npos : static_cast<std::size_t>(pos - 1);
  const std::size_t found = text.rfind('/', limit);
  return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsAsciiAlphaNumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHostNameLabel(std::string_view label) {
  if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
  for (const char c : label) {
    if (!IsAsciiAlphaNumeric(c) && c != '-') return false;
  }
  return true;
}

// A host name or a dotted IPv4 address: "."-separated labels of letters, digits and inner
// hyphens, with an optional final ".".
bool IsHostName(std::string_view host) {
  if (host.ends_with('.')) host.remove_suffix(1);
  if (host.empty() || host.size() > 253) return false;
  for (std::size_t start = 0;;) {
    const std::size_t dot = host.find('.', start);
    if (!IsHostNameLabel(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start)))
      return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool IsPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 65535;
}

}  // namespace

bool TIdURI::IsHostAndPort(std::string_view text) {
  std::string_view host = text;
  std::string_view port;
  bool hasPort = false;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || !IsIPv6Literal(text.substr(1, close - 1))) return false;
    host = text.substr(0, close + 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port = text.substr(close + 2);
      hasPort = true;
    }
  } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    hasPort = true;
    if (!IsHostName(host)) return false;
  } else if (!IsHostName(host)) {
    return false;
  }
  return !hasPort || IsPort(port);
}

std::string TIdURI::Authority(const std::string& host, const std::string& port) {
  std::string authority = host.find(':') == std::string::npos ? host : "[" + host + "]";
  if (!port.empty()) authority += ":" + port;
  return authority;
}

TIdURI::TIdURI(const std::string& uri) {
  if (uri.empty()) return;
  FURI = ForwardSlashes(uri);
  std::string rest = FURI;
  if (TextPos("://", rest) == 0) {
    SplitPathPart(rest, "");
  } else {
    FProtocol = TakeToken(rest, "://");
    std::string authority = TakeToken(rest, "/");
    if (TextPos("@", authority) > 0) {
      std::string userInfo = TakeToken(authority, "@");
      FUsername = TakeToken(userInfo, ":");
      FPassword = FUsername.empty() ? "" : userInfo;
    }
    if (authority.starts_with('[') && authority.find(']') != std::string::npos) {
      // An IPv6 literal: its colons are not the port's.
      const std::size_t close = authority.find(']');
      FHost = authority.substr(1, close - 1);
      authority.erase(0, close + 1);
      if (authority.starts_with(':')) authority.erase(0, 1);
    } else {
      FHost = TakeToken(authority, ":");
    }
    FPort = authority;
    SplitPathPart(rest, "/");
    FBookmark = FDocument;
    FDocument = TakeToken(FBookmark, "#");
  }
  if (FBookmark.empty()) {
    FBookmark = FParams;
    FParams = TakeToken(FBookmark, "#");
  }
}

void TIdURI::SplitPathPart(const std::string& text, const std::string& pathPrefix) {
  int query = TextPos("?", text);
  if (query == 0) query = TextPos("=", text);
  const int pathEnd = LastSlashAtOrBefore(text, query);
  FPath = pathPrefix + text.substr(0, static_cast<std::size_t>(pathEnd));
  if (query > 0) {
    FDocument = text.substr(0, static_cast<std::size_t>(query - 1));
    FParams = text.substr(static_cast<std::size_t>(query - 1));
  } else {
    FDocument = text;
  }
  FDocument.erase(0, static_cast<std::size_t>(pathEnd));
}

std::string TIdURI::PercentDecode(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      result += ' ';
    } else if (text[i] != '%') {
      result += text[i];
    } else {
      // Up to two characters follow; they go whatever they hold, and only a hexadecimal
      // number from 1 to 255 leaves a byte behind.
      const std::string digits = text.substr(i + 1, 2);
      i += digits.size();
      int value = 0;
      bool valid = !digits.empty();
      for (char c : digits) {
        const int digit = HexDigit(c);
        valid = valid && digit >= 0;
        value = value * 16 + digit;
      }
      if (valid && value >= 1) result += static_cast<char>(value);
    }
  }
  return result;
}
