#pragma once
// The record that carries one received HTTP request through the request cycle.

#include "http/protocol/IdHTTPHeaderInfo.h"
#include "http/protocol/IdServerCookies.h"
#include "http/io/IdStream.h"

#include <memory>
#include <string>
#include <vector>

class TIdHTTPSession;

/// One request as the request cycle read it: the request line's parts, the decoded document,
/// parameters, cookies, credentials and the body. Owns Cookies, Params and PostStream.
/// Created, filled and destroyed by one connection thread; the handler only reads it.
class TIdHTTPRequestInfo : public TIdRequestHeaderInfo {
public:
  TIdHTTPRequestInfo();

  /// Replaces Params by the "&"-separated pieces of text, each decoded whole with
  /// PercentDecode: "a=1&b=%41+c" gives "a=1" and "b=A c"; "a&&b" gives "a", "" and "b";
  /// a trailing "&" gives an empty last entry; an empty text gives none.
  void DecodeParams(const std::string& text);

  bool AuthPresent = false;                // the request carried well-formed Basic credentials
  TIdServerCookies Cookies;                // one per cookie pair of the "Cookie" lines
  std::vector<std::string> Params;         // decoded name=value entries
  std::unique_ptr<TIdStream> PostStream;   // only a stream the server's event supplied
  std::string RequestLine;                 // as read, terminator removed
  std::string RemoteIP;                    // the client's dotted address
  TIdHTTPSession* Session = nullptr;       // sessions are off: always none
  std::string Document;                    // the decoded request path
  std::string Command;                     // "GET", "POST" or "HEAD"
  std::string Version;                     // as sent, such as "HTTP/1.1"
  std::string AuthUser;                    // from Basic credentials
  std::string AuthPassword;
  std::string ParamText;                   // PostText, QueryText or both
  std::string QueryText;                   // after the target's first "?", undecoded
  std::string PostText;                    // the body, when read into a string stream
};
