#pragma once
// The typed header fields shared by requests and responses, and the mapping between them and
// the raw header lines in both directions.

#include "http/protocol/IdHeaderList.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string>

/// The entity header fields of one HTTP message and its raw header lines. Owns its lists.
/// A record belongs to the connection thread that made it; nothing here locks.
class TIdEntityHeaderInfo {
public:
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo() = default;
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  /// Fills the fields from HeaderLines. Every mapped field is assigned, so a missing header
  /// leaves its field empty (or -1, or 0). Throws EIdFailedToRetreiveTimeZoneInfo when a date
  /// header is read and the local offset cannot be had.
  virtual void ParseHeaderLines();
  /// Empties HeaderLines and writes the set fields into it, CustomHeaders last.
  virtual void BuildHeaderLines();
  /// Puts the fields back to their defaults (CacheControl, Pragma, CustomHeaders and
  /// ContentLengthKnown stay as they are).
  virtual void ResetFields();

  /// Body length in bytes, -1 when none is given.
  std::int64_t ContentLength() const { return FContentLength; }
  /// Whether a length of 0 or more was assigned.
  bool ContentLengthKnown() const { return FContentLengthKnown; }
  /// Stores n as the body length; it counts as known when n >= 0.
  void AssignContentLength(std::int64_t n);

  std::string CacheControl;
  TIdHeaderList HeaderLines;  // as received or as to be sent; folds at 1024 columns
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::int64_t ContentRangeEnd = 0;
  std::int64_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  TIdHeaderList CustomHeaders;  // extra lines an application adds; sent after the standard ones
  platform::TDateTime Date = 0;
  platform::TDateTime Expires = 0;
  platform::TDateTime LastModified = 0;
  std::string Pragma;

private:
  std::int64_t FContentLength = -1;
  bool FContentLengthKnown = false;
};

/// The request header fields. Username, Password and BasicAuthentication serve a client that
/// builds requests; the server never reads or sets them.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
  TIdRequestHeaderInfo();

  /// Reads the request headers, "Range" included, then the entity headers.
  void ParseHeaderLines() override;
  void ResetFields() override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Password;
  std::string Referer;
  std::string UserAgent;
  std::string Username;
  std::string Host;
  bool BasicAuthentication = false;
  std::string ProxyConnection;
};

/// The response header fields.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
  TIdResponseHeaderInfo();

  /// Reads the response headers, every authenticate line included, then the entity headers.
  void ParseHeaderLines() override;
  void ResetFields() override;

  std::string Location;
  std::string Server;
  std::string AcceptRanges;  // "Accept-Ranges" value: the range unit a file answer takes ("bytes")
  std::string ContentRange;  // "Content-Range" value: "bytes first-last/size" or "bytes */size"
  std::string RetryAfter;    // "Retry-After" value: the seconds to wait before asking again
  std::string ContentDisposition;  // "Content-Disposition" value: how a file answer is shown and named
  std::string ProxyConnection;
  TIdHeaderList ProxyAuthenticate;  // every "Proxy-Authenticate" value
  TIdHeaderList WWWAuthenticate;    // every "WWW-Authenticate" value
};
