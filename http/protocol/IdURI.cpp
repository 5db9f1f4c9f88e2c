#include "http/protocol/IdURI.h"

#include "http/protocol/IdGlobal.h"
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

}  // namespace

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
    FHost = TakeToken(authority, ":");
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
