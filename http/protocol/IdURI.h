#pragma once
// Splitting request targets into their parts, and the URL decoding of paths and parameters.

#include <string>
#include <string_view>

/// The parts of one URI text: protocol, user name, password, host, port, path (up to and
/// including its last "/"), document, parameters (from the "?" or "=" that ended the document,
/// up to a "#") and bookmark (after the "#"). Backslashes count as slashes, except the trail
/// byte of a double-byte character. A host written as an IPv6 literal in brackets is given
/// without them. Immutable once built; any thread.
class TIdURI {
public:
  explicit TIdURI(const std::string& uri = "");

  const std::string& URI() const { return FURI; }
  const std::string& Protocol() const { return FProtocol; }
  const std::string& Username() const { return FUsername; }
  const std::string& Password() const { return FPassword; }
  const std::string& Host() const { return FHost; }
  const std::string& Port() const { return FPort; }
  const std::string& Path() const { return FPath; }
  const std::string& Document() const { return FDocument; }
  const std::string& Params() const { return FParams; }
  const std::string& Bookmark() const { return FBookmark; }

  /// "+" becomes a blank and "%hh" the byte hh; an escape that is not hexadecimal or is %00
  /// is dropped with its two characters. No character-set conversion; never fails.
  static std::string PercentDecode(const std::string& text);

  /// Whether text is a Host value to build a URL with: a host name or dotted IPv4 address
  /// (letters, digits and inner hyphens in "."-separated labels) or an IPv6 literal in brackets,
  /// each with an optional ":" and port (1 to 5 digits, at most 65535). Nothing else: no
  /// user part, path, blank or control byte.
  static bool IsHostAndPort(std::string_view text);
  /// host (an IPv6 one in brackets), then ":" and port when there is one.
  static std::string Authority(const std::string& host, const std::string& port);

private:
  // Fills path, document and parameters from the text after the authority (or the whole
  // relative text); pathPrefix goes before the path.
  void SplitPathPart(const std::string& text, const std::string& pathPrefix);

  std::string FURI, FProtocol, FUsername, FPassword, FHost, FPort;
  std::string FPath, FDocument, FParams, FBookmark;
};
