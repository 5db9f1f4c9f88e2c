#include "publish/RequestHandler.h"

#include "http/io/IdFileStream.h"
#include "http/io/IdIOHandlerSocket.h"
#include "http/net/IdException.h"
#include "http/net/IdIPAddress.h"
#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdURI.h"
#include "http/server/IdPeerThread.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/FilePath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "publish/ArchiveAnswer.h"
#include "publish/FileCrcSource.h"
#include "publish/BrowseJson.h"
#include "publish/FolderEntries.h"
#include "publish/HtmlText.h"
#include "publish/ListingPage.h"
#include "publish/LogEscape.h"
#include "publish/LogLine.h"
#include "publish/SecureRoutes.h"
#include "publish/UnitXML.h"
#include "publish/WithheldRule.h"

#include <algorithm>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

const char* const kNotFoundStart = "<html><head><title>ファイルが見つかりません。</title></head><body><h1>";
const char* const kNotFoundEnd = "</h1></body></html>";
const char* const kAuthFailedPage =
    "<html><head><title>Error</title></head><body><h1>Authentication failed</h1></body></html>";
const char* const kRealm = "Velmora User Authentication.";
const char* const kIndexName = "index.xml";

// The type of the pages this handler builds: labelled with their character set, because
// browsers mis-decode unlabelled pages with Japanese names.
std::string PageContentType() {
  return platform::SystemCodePage() == platform::TCodePage::ShiftJis ? "text/html; charset=Shift_JIS"
                                                                     : "text/html; charset=UTF-8";
}

// A request path as UTF-8 in the system code page. A path that is no well-formed UTF-8 names the
// entry whose name is exactly those bytes, as names on this system may be any bytes.
std::string DocumentInCodePage(const std::string& document) {
  return platform::IsValidUtf8(document) ? platform::Utf8ToCodePage(document) : document;
}

// The segments of a request path as the handler resolves it to find a folder: "/" and "\"
// separate, empty and "." segments drop, ".." removes the segment before it (never climbing above
// the root). A document that is no UTF-8 holds code-page bytes, where "\" can be a trail byte.
std::vector<std::string_view> PathSegments(std::string_view document) {
  const bool codePageBytes = !platform::IsValidUtf8(document);
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (std::size_t pos = 0;;) {
    const bool atEnd = pos == document.size();
    if (!atEnd && !platform::IsPathSeparator(document[pos])) {
      pos += codePageBytes ? platform::CharLength(document, pos) : 1;
      continue;
    }
    const std::string_view segment = document.substr(start, pos - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    if (atEnd) return segments;
    start = ++pos;
  }
}

}  // namespace

std::string FolderLocation(const std::string& document, const std::string& queryText) {
  std::string location;
  location.reserve(document.size() * 3 + queryText.size() + 2);
  location += '/';
  // Each segment as the listing writes a link, so none can bring its own "/", "\" or ":".
  for (const std::string_view segment : PathSegments(document)) {
    AppendPercentEncoded(location, segment);
    location += '/';
  }
  if (!queryText.empty()) {
    location += '?';
    AppendQueryEncoded(location, queryText);
  }
  return location;
}

std::string AbsoluteLocation(bool secure, const std::string& host, const std::string& path) {
  if (!TIdURI::IsHostAndPort(host)) return path;
  return (secure ? "https://" : "http://") + host + path;
}

bool SameSecret(std::string_view a, std::string_view b) {
  // Every byte of the longer text is looked at, whatever differs first.
  std::size_t difference = a.size() ^ b.size();
  const std::size_t length = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    difference |= static_cast<std::size_t>(x ^ y);
  }
  return difference == 0;
}

TRequestHandler::TRequestHandler(TIdCustomHTTPServer& server, const ISettingsSource& settings, ILogSink& log,
                                 TIdMimeTable& mimeTypes, platform::TRegionalFormats formats, TAnswerLimits limits,
                                 TThumbnailOptions thumbnails)
    : FServer(server),
      FSettings(settings),
      FLog(log),
      FMimeTypes(mimeTypes),
      FFormats(std::move(formats)),
      FBodyMemory(limits.BodyMemory),
      FBuilds(limits.Builds),
      FTempSpace(limits.TempSpace),
      FThumbnails(std::move(thumbnails)),
      FCrcCache(limits.CrcCacheFile) {}

void TRequestHandler::httpdCommandGet(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo,
                                      TIdHTTPResponseInfo& AResponseInfo) {
  const TPublishSettings settings = FSettings.Snapshot();
  const std::string document = DocumentInCodePage(ARequestInfo.Document);
  FLog.AppendLine(StampedLogLine(FFormats, platform::Now(), document + " " + ARequestInfo.RemoteIP));
  const std::string path = platform::ExpandFileName(settings.Root + document);
  const TWithheldRule rule = WithheldRuleOf(settings);

  // The authority's certificate is public, and a phone must be able to fetch it before it can
  // trust anything else here: it needs no login, and comes over plain HTTP too.
  if (!FAuthorityDer.empty() && IsAuthorityRequest(ARequestInfo)) {
    AnswerAuthority(AResponseInfo, FAuthorityDer);
    return;
  }
  const auto* transport = dynamic_cast<const TIdIOHandlerSocket*>(AThread.Connection()->IOHandler());
  if (transport != nullptr && transport->Transport() == TIdTransport::PlainOnSecurePort) {
    const TIdSocketHandle* socket = transport->Endpoint();
    const std::string host = IsIPv6Literal(socket->IP) ? "[" + socket->IP + "]" : socket->IP;
    AnswerSecureRedirect(ARequestInfo, AResponseInfo, host + ":" + std::to_string(socket->Port));
    return;
  }
  const bool secure = transport != nullptr && transport->Transport() == TIdTransport::Secure;

  if (!PassesLogin(settings, ARequestInfo, AResponseInfo)) return;

  // Outside the root, or below a withheld folder, a path is told apart from a missing one by
  // nothing; neither is the index of such a folder given.
  if (!IsInsideRoot(path, settings.Root) || HasWithheldFolder(path, settings.Root, rule.Mask)) {
    AnswerNotFound(AResponseInfo);
    return;
  }
  // One look at the disk decides the kind and the attributes.
  const platform::TFileInfo info = platform::GetFileInfo(path);
  const bool isFolder = info.Readable() && (info.Attr & platform::faDirectory) != 0;
  const bool isFile = info.Readable() && !isFolder;

  const std::size_t slash = path.rfind('/');
  if (!isFile && path.compare(slash + 1, std::string::npos, kIndexName) == 0) {
    const std::string folder = path.substr(0, slash + 1);
    if (BuildAnswer(ARequestInfo, AResponseInfo, [&](TBodySink& sink) { BuildFileIndex(sink, folder, rule); })) {
      AResponseInfo.SetStatusCode(200);
      AResponseInfo.ContentType = "application/xml";
    }
  } else if (!isFile && !isFolder) {
    AnswerNotFound(AResponseInfo);
  } else if (isFolder && !ARequestInfo.Document.empty() && !ARequestInfo.Document.ends_with('/')) {
    // The listing's links are relative to the folder: a browser must stand in it to follow them.
    AResponseInfo.SetStatusCode(301);
    AResponseInfo.Location =
        AbsoluteLocation(secure, ARequestInfo.Host, FolderLocation(ARequestInfo.Document, ARequestInfo.QueryText));
    AResponseInfo.BodyText = AResponseInfo.StatusPage();
    AResponseInfo.ContentType = "text/html";
  } else if (const auto format = ArchiveFormatOf(ARequestInfo.QueryText);
             isFolder && format && (ARequestInfo.Command == "GET" || ARequestInfo.Command == "HEAD")) {
    SendArchive(AThread, ARequestInfo, AResponseInfo, path, *format, rule);
  } else if (isFolder && IsBrowseRequest(ARequestInfo.Params)) {
    AnswerBrowse(ARequestInfo, AResponseInfo, path, rule);
  } else if (isFolder) {
    if (BuildAnswer(ARequestInfo, AResponseInfo,
                    [&](TBodySink& sink) { ListingPage(sink, path, settings, FFormats); })) {
      AResponseInfo.ContentType = PageContentType();
    }
  } else if ((info.Attr & platform::faArchive) == 0 || rule.WithholdsFile(info, path.substr(slash + 1))) {
    // Withheld, or a special file that would block or never end when read.
    AnswerNotFound(AResponseInfo);
  } else if (const int box = ThumbnailBox(ARequestInfo.QueryText); box != 0) {
    // A file with no thumbnail (no image, damaged, too large) is not found, so a page shows its icon.
    if (!FThumbnails.Answer(AThread, ARequestInfo, AResponseInfo, path, settings.Root, box))
      AnswerNotFound(AResponseInfo);
  } else {
    SendFile(AThread, ARequestInfo, AResponseInfo, path);
  }
}

bool TRequestHandler::PassesLogin(const TPublishSettings& settings, const TIdHTTPRequestInfo& ARequestInfo,
                                  TIdHTTPResponseInfo& AResponseInfo) {
  if (settings.UserName.empty() || settings.Password.empty()) return true;
  // One IPv6 host may hold a whole /64: guesses from any of its addresses count together.
  const std::string key = ClientAddressKey(ARequestInfo.RemoteIP);
  if (const long long seconds = FLogins.LockedFor(key); seconds > 0) {
    AResponseInfo.SetStatusCode(429);
    AResponseInfo.RetryAfter = std::to_string(seconds);
    AResponseInfo.BodyText = AResponseInfo.StatusPage();
    AResponseInfo.ContentType = "text/html";
    return false;
  }
  // Both compared in full: the time taken tells nothing about either.
  const bool userMatches = SameSecret(ARequestInfo.AuthUser, settings.UserName);
  const bool passwordMatches = SameSecret(ARequestInfo.AuthPassword, settings.Password);
  if (userMatches & passwordMatches) return true;
  // A request without credentials is a browser asking how to log in, not a guess.
  if (ARequestInfo.AuthPresent && FLogins.Fail(key))
    FLog.AppendLine(LockOutLogLine(FFormats, platform::Now(), ARequestInfo.RemoteIP));
  AResponseInfo.BodyText = kAuthFailedPage;
  AResponseInfo.BasicRealm = kRealm;
  return false;
}

bool TRequestHandler::BuildAnswer(const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                                  const std::function<void(TBodySink&)>& build) {
  try {
    const TBuildSlots::TSlot slot = FBuilds.Acquire(ClientAddressKey(ARequestInfo.RemoteIP));
    TBodySink sink(FTempSpace, FBodyMemory);
    build(sink);
    sink.MoveInto(AResponseInfo);
    return true;
  } catch (const EIdServerBusy&) {
    AnswerBusy(AResponseInfo);
    return false;
  }
}

void TRequestHandler::AnswerBusy(TIdHTTPResponseInfo& AResponseInfo) const {
  AResponseInfo.SetStatusCode(503);
  AResponseInfo.BodyText = AResponseInfo.StatusPage();
  AResponseInfo.ContentType = "text/html";
  AResponseInfo.RetryAfter = "1";
}

void TRequestHandler::AnswerBrowse(const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
                                   const std::string& path, const TWithheldRule& rule) {
  const std::string& first = ARequestInfo.Params.front();
  const bool json = first == "json" || first.starts_with("json=");
  const TBrowseQuery query = BrowseQueryOf(ARequestInfo.Params);
  const bool built = BuildAnswer(ARequestInfo, AResponseInfo, [&](TBodySink& sink) {
    // The folder is read within the build slot, as the listing's is.
    const platform::TFolderEntries entries = PublishedEntries(path, rule);
    const TBrowseFolder folder{ARequestInfo.Document.empty() ? "/" : ARequestInfo.Document,
                               BrowseRowsOf(BrowseEntriesOf(entries), query)};
    if (json)
      BrowseJson(sink, folder);
    else
      BrowsePage(sink, folder, query, BrowseTextsFor(ARequestInfo.AcceptLanguage));
  });
  if (!built) return;
  AResponseInfo.ContentType = json ? "application/json; charset=utf-8" : "text/html; charset=utf-8";
  AResponseInfo.CustomHeaders.Add("X-Content-Type-Options: nosniff");
  AResponseInfo.CustomHeaders.Add("Referrer-Policy: no-referrer");
  if (!json) AResponseInfo.CustomHeaders.Add("Content-Security-Policy: " + BrowseSecurityPolicy());
}

void TRequestHandler::AnswerNotFound(TIdHTTPResponseInfo& AResponseInfo) const {
  AResponseInfo.SetStatusCode(404);
  AResponseInfo.BodyText = platform::Utf8ToCodePage(kNotFoundStart) + AResponseInfo.StatusText() + kNotFoundEnd;
  AResponseInfo.ContentType = PageContentType();
}

void TRequestHandler::AnswerUnopenable(TIdHTTPResponseInfo& AResponseInfo, const std::string& path) const {
  // Gone, or no longer a regular file, since it was looked at: as if it had never been there.
  if (!platform::IsRegularFile(path)) {
    AnswerNotFound(AResponseInfo);
    return;
  }
  AResponseInfo.SetStatusCode(403);
  AResponseInfo.BodyText = AResponseInfo.StatusPage();
  AResponseInfo.ContentType = "text/html";
}

void TRequestHandler::SendFile(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo,
                               TIdHTTPResponseInfo& AResponseInfo, const std::string& path) {
  try {
    AResponseInfo.ContentType = FMimeTypes.MimeTypeOf(path);
    AResponseInfo.SetStatusCode(200);
    FServer.SendFileResponse(AThread, ARequestInfo, AResponseInfo, path);
  } catch (const EFOpenError&) {
    // Nothing was written yet: the client learns why, instead of a success with no body.
    AnswerUnopenable(AResponseInfo, path);
  } catch (const std::exception& error) {
    // Before the head, the request cycle's 500 says that nothing is coming; after it, the
    // client sees the short body and the log says why.
    if (!AResponseInfo.HeaderWritten) throw;
    FLog.AppendLine(ExceptionLogLine(error));
  }
}

void TRequestHandler::SendArchive(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo,
                                  TIdHTTPResponseInfo& AResponseInfo, const std::string& folder,
                                  TArchiveFormat format, const TWithheldRule& rule) {
  const std::string topName = ArchiveTopName(folder);
  std::vector<TArchiveEntry> entries;
  try {
    const TBuildSlots::TSlot slot = FBuilds.Acquire(ClientAddressKey(ARequestInfo.RemoteIP));
    entries = CollectArchiveEntries(TTreeWalk(rule), folder, topName);
  } catch (const EIdServerBusy&) {
    AnswerBusy(AResponseInfo);
    return;
  }
  const TArchiveLayout layout(format, std::move(entries));
  TFileCrcSource crc(FCrcCache);
  try {
    SendArchiveAnswer(*AThread.Connection(), ARequestInfo, AResponseInfo, layout, crc,
                      topName + (format == TArchiveFormat::Zip ? ".zip" : ".tar"));
  } catch (const std::exception& error) {
    if (!AResponseInfo.HeaderWritten) throw;
    // Fewer bytes than promised: only a closed connection tells the client the archive is cut.
    AResponseInfo.SetCloseAfterResponse(true);
    FLog.AppendLine(ExceptionLogLine(error) + " " + EscapeLogText(error.what()));
  }
}
