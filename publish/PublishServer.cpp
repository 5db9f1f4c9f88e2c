#include "publish/PublishServer.h"

#include "http/net/IdException.h"
#include "http/net/IdStack.h"
#include "http/server/IdServerIOHandlerSSL.h"
#include "publish/LogLine.h"

bool EndsConnectionQuietly(const std::exception& error) {
  if (dynamic_cast<const EIdSilentException*>(&error) != nullptr ||
      dynamic_cast<const EIdClosedSocket*>(&error) != nullptr ||
      dynamic_cast<const EIdNotConnected*>(&error) != nullptr)
    return true;
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&error);
  return socketError != nullptr &&
         (socketError->LastError == Id_WSAECONNABORTED || socketError->LastError == Id_WSAECONNRESET ||
          socketError->LastError == Id_WSAESHUTDOWN);
}

namespace {

// Checksums of zip downloads outlive the program, in the user's cache folder.
TAnswerLimits ArchiveLimits() {
  TAnswerLimits limits;
  limits.CrcCacheFile = TCrcCache::DefaultFilePath();
  return limits;
}

}  // namespace

// The handler is given httpd before httpd is constructed: it only keeps the reference, and uses
// it on connection threads, which exist only once httpd has started.
TPublishServer::TPublishServer(const ISettingsSource& settings, ILogSink& log,
                               const platform::TRegionalFormats& formats)
    : FHandler(httpd, settings, log, MimeTypes, formats, ArchiveLimits()) {
  httpd.SetThreadMgr(&FThreads);
  httpd.OnCommandGet = [this](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    FHandler.httpdCommandGet(thread, request, response);
  };
  httpd.OnException = [&log](TIdPeerThread&, const std::exception& error) {
    if (!EndsConnectionQuietly(error)) log.AppendLine(ExceptionLogLine(error));
  };
}

// Stopped here, before httpd's own destructors begin: a connection thread still calls the
// server's virtual steps, and a destructor that has begun changes the object's type under it.
// Waits as long as the threads take, however often the stop's own wait runs out.
TPublishServer::~TPublishServer() {
  for (;;) {
    try {
      httpd.SetActive(false);
      return;
    } catch (const EIdTerminateThreadTimeout&) {
      // Some connection threads outlived TerminateWaitTime: their sockets are closed again.
    }
  }
}

void TPublishServer::Start(int port) {
  httpd.SetDefaultPort(port);
  // A TLS session costs a handshake: it is always kept for the client's next requests.
  httpd.KeepAlive = KeepAlive || FTlsAcceptor != nullptr;
  httpd.SetActive(true);
}

void TPublishServer::SetTls(const TTlsIdentity& identity) {
  httpd.SetIOHandler(nullptr);
  FTlsAcceptor.reset();
  if (identity.Context) {
    FTlsAcceptor = std::make_unique<TIdServerIOHandlerSSL>(identity.Context);
    httpd.SetIOHandler(FTlsAcceptor.get());
  }
  FHandler.SetAuthorityCertificate(identity.AuthorityDer);
}

void TPublishServer::Stop() { httpd.SetActive(false); }
