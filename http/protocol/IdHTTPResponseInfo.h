#pragma once
// The record that holds what the request handler decided about one request, until it is
// written to the client.

#include "http/protocol/IdHTTPHeaderInfo.h"
#include "http/protocol/IdServerCookies.h"
#include "http/io/IdStream.h"

#include <cstdint>
#include <memory>
#include <string>

class TIdHTTPSession;
class TIdTCPConnection;

/// One response: status, body (BodyText, else BodyStream, else none) and the header fields.
/// Owns Cookies, and BodyStream while OwnsBodyStream is set; ClientConnection is not owned.
/// Created, filled and destroyed by one connection thread.
class TIdHTTPResponseInfo : public TIdResponseHeaderInfo {
public:
  /// Status 200, "text/html", no length, Server "Velmora/1.0", writing to connection.
  explicit TIdHTTPResponseInfo(TIdTCPConnection* connection);
  ~TIdHTTPResponseInfo() override;

  int StatusCode() const { return FStatusCode; }
  const std::string& StatusText() const { return FStatusText; }
  /// Sets the code and its reason phrase together ("Unknown Response Code" for a code outside
  /// the table); 404 also closes the connection after the response.
  void SetStatusCode(int code);

  /// "<HTML><BODY><B>" + code + " " + reason phrase (system code page) + "</B></BODY></HTML>":
  /// the fixed page of the status, which never tells more than the status itself.
  std::string StatusPage() const;

  /// Whether an answer of this status carries a body: all but 1xx, 204 and 304.
  bool StatusHasBody() const { return FStatusCode >= 200 && FStatusCode != 204 && FStatusCode != 304; }

  bool CloseAfterResponse() const { return FCloseAfterResponse; }
  /// Stores the flag and sets Connection to "close" (true) or "keep-alive" (false).
  void SetCloseAfterResponse(bool flag);

  /// The body stream, or none.
  TIdStream* BodyStream() const { return FBodyStream.get(); }
  /// Takes stream as the body after releasing the one held before. Whether the record frees
  /// it is decided by OwnsBodyStream when it lets go of it.
  void SetBodyStream(TIdStream* stream);
  /// Takes stream as an owned body (OwnsBodyStream becomes true).
  void SetBodyStream(std::unique_ptr<TIdStream> stream);
  /// Frees the body stream when OwnsBodyStream, else only forgets it; none afterwards.
  void ReleaseBodyStream();

  /// The entity lines, then Server, Content-Type, Location, Accept-Ranges, Content-Range,
  /// Content-Length, Last-Modified and Content-Disposition; lines already present keep their place, the others follow
  /// Server in that order.
  /// With a BasicRealm the response becomes a 401 challenge: status 401, "WWW-Authenticate:
  /// Basic realm="<realm>"", and the 49-byte 401 page in place of BodyText.
  void BuildHeaderLines() override;
  /// Sends the status line (always "HTTP/1.1", the reason phrase in the system code page), the
  /// header lines, the cookie lines and the empty line in one send, taking the length from the
  /// body when none is set; for a body over 64 KiB, sends held back on the connection go at once
  /// from then on. A kept connection (CloseAfterResponse clear) is closed after an answer whose
  /// length is still unknown then, since only the close can end its body. HeaderWritten is set
  /// before anything is sent, so a head that fails half-way is never sent again. Throws EIdHTTPHeaderAlreadyWritten on a second call (nothing
  /// sent), EIdNotConnected without a ClientConnection, and the connection's write errors.
  void WriteHead();
  /// Writes the head when it is not written yet, then BodyText, else BodyStream from its start
  /// (one held in a file through the platform's file transmit call), else the default page of
  /// the status; then lets go of the body. A failed write leaves the body in place.
  void WriteBody();

  std::string BasicRealm;               // non-empty: the response becomes a 401 Basic challenge
  TIdTCPConnection* ClientConnection;   // where the response is written
  TIdServerCookies Cookies;             // sent as "Set-Cookie" lines
  std::string BodyText;
  bool OwnsBodyStream = true;
  bool HeaderWritten = false;           // the status line and header lines have been sent
  std::int64_t HeadSize = 0;            // bytes of the head that WriteHead put together
  TIdHTTPSession* Session = nullptr;    // sessions are off: always none
  std::string ServerSoftware;           // product text, copied into Server

private:
  int FStatusCode = 0;
  std::string FStatusText;
  bool FCloseAfterResponse = false;
  std::unique_ptr<TIdStream> FBodyStream;  // released without freeing when not owned
};
