#pragma once
// The request handler: for every HTTP request, decides what the client gets (a file, a folder's
// listing, the XML index of a folder tree, a not-found page or an authentication challenge) and
// writes the activity log's request line. Free of window code: its host supplies the settings,
// the log and the type table.

#include "http/protocol/IdCustomHTTPServer.h"
#include "platform/RegionalFormats.h"
#include "publish/ArchiveLayout.h"
#include "publish/LoginThrottle.h"
#include "publish/BodySink.h"
#include "publish/BuildSlots.h"
#include "publish/CrcCache.h"
#include "publish/PublishSettings.h"
#include "publish/RootPath.h"
#include "publish/TempSpace.h"
#include "publish/ThumbnailService.h"
#include "publish/WithheldRule.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

/// The bounds on answers built before they are sent (listings and indexes): how many are built
/// at once, the temporary space they may take together, and the bytes each keeps in memory.
struct TAnswerLimits {
  TBuildLimits Builds;
  std::int64_t TempSpace = std::int64_t{2} << 30;
  std::size_t BodyMemory = kBodyMemoryLimit;
  std::string CrcCacheFile;  // where the checksums of zip downloads are kept; empty: memory only
};

/// Serves requests for the server that calls it. Keeps no state between requests beyond the
/// count of failed logins per client address, and the build slots and the temporary space in
/// use, which every connection thread shares: each request takes its own settings snapshot.
/// The server, settings source, log sink and type table are
/// not owned and must outlive the handler; the table is only read (it was filled before the
/// server started). httpdCommandGet runs on connection threads, many at once.
class TRequestHandler {
public:
  TRequestHandler(TIdCustomHTTPServer& server, const ISettingsSource& settings, ILogSink& log,
                  TIdMimeTable& mimeTypes, platform::TRegionalFormats formats, TAnswerLimits limits = {},
                  TThumbnailOptions thumbnails = {});

  /// Serves one request (the server's OnCommandGet). Connection threads, many at once.
  /// With a password set, an address that sent wrong credentials too often is answered 429
  /// with Retry-After for a while, its credentials unchecked, and the log says so once.
  /// A folder requested without its trailing "/" is redirected to it (301), its query kept; with
  /// the query "zip" or "tar", GET and HEAD of a folder answer it as one archive. A listing or an
  /// index that cannot be built now (TAnswerLimits) is answered 503 with "Retry-After: 1". Errors of a file
  /// being sent after its head are logged as "exception : <class>"; other errors (before a
  /// file's head, a failing listing or index) leave the handler, and the request cycle answers
  /// them with status 500.
  void httpdCommandGet(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo);

  /// The certificate (DER) that "/?ca" answers, on every transport and without a login; empty:
  /// no such route. A plain request on a port that speaks TLS is redirected to https:// either
  /// way. Only while the server is stopped.
  void SetAuthorityCertificate(std::string certificateDer) { FAuthorityDer = std::move(certificateDer); }

private:
  // Whether the request may go on past the password: true without one, or with the right
  // credentials; else the response holds the challenge, or the 429 of a locked-out address.
  bool PassesLogin(const TPublishSettings& settings, const TIdHTTPRequestInfo& ARequestInfo,
                   TIdHTTPResponseInfo& AResponseInfo);
  // The answer while no build slot or temporary space is free: 503 with "Retry-After: 1".
  void AnswerBusy(TIdHTTPResponseInfo& AResponseInfo) const;
  // The not-found answer: status 404 and the page naming it.
  void AnswerNotFound(TIdHTTPResponseInfo& AResponseInfo) const;
  /// The browse page or its JSON form of the folder at path (the request names it with a "/"
  /// at the end), with the same entries as the listing.
  void AnswerBrowse(const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                    const std::string& path, const TWithheldRule& rule);
  // Builds a listing or an index into the response's body while holding a build slot; a large
  // one goes to a temporary file. Returns false, with the response set to 503 and
  // "Retry-After: 1", when no slot or no temporary space was to be had.
  bool BuildAnswer(const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                   const std::function<void(TBodySink&)>& build);
  // The answer for a file that could not be opened: status 403 and its fixed page while it is
  // still a regular file, else the not-found answer.
  void AnswerUnopenable(TIdHTTPResponseInfo& AResponseInfo, const std::string& path) const;
  // Answers the request with the file path (the whole file, a part of it, or that the client's
  // copy is still good), or with the 403 answer when it cannot be opened; a failure after the
  // head becomes a log line.
  void SendFile(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                const std::string& path);
  // Answers the request with folder (a full path) as one archive, its entries walked while
  // holding a build slot (503 as for a listing when none is free). A failure after the head (a
  // file changed while it was sent, a client gone) becomes a log line and ends the connection.
  void SendArchive(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                   const std::string& folder, TArchiveFormat format, const TWithheldRule& rule);

  TIdCustomHTTPServer& FServer;
  const ISettingsSource& FSettings;
  ILogSink& FLog;
  TIdMimeTable& FMimeTypes;  // looked up only: filled before the server started
  const platform::TRegionalFormats FFormats;
  TLoginThrottle FLogins;
  const std::size_t FBodyMemory;
  TBuildSlots FBuilds;
  TTempSpace FTempSpace;
  TThumbnailService FThumbnails;
  TCrcCache FCrcCache;
  std::string FAuthorityDer;  // set while stopped, only read while serving
};

/// The Location of the redirect for a folder requested without its trailing "/": document (the
/// decoded request path) cleaned as a path ("/" and "\" separate, empty and "." segments drop,
/// ".." removes the segment before it), as one "/" and each segment percent-encoded as the
/// listing encodes links, each followed by "/"; then "?" and queryText when there is one (bytes a
/// header cannot carry percent-encoded). Always a path on this server: it never begins with "//"
/// and holds no scheme. Any thread.
std::string FolderLocation(const std::string& document, const std::string& queryText);

/// The URL of path (a FolderLocation) as the client named this server: "http://" + host + path
/// when host, the request's Host, is a host name, IPv4 address or bracketed IPv6 literal with an
/// optional port; path alone otherwise, which the client takes on the server it asked. Any thread.
std::string AbsoluteLocation(const std::string& host, const std::string& path);

/// Whether a and b hold the same bytes, compared in a time that does not depend on where they
/// first differ. Any thread.
bool SameSecret(std::string_view a, std::string_view b);
