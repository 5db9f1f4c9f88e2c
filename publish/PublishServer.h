#pragma once
// The publishing server as one object: the HTTP server, the type table and the request handler,
// put together and taken apart in an order that keeps every connection thread safe.

#include <exception>

#include "http/protocol/IdHTTPServer.h"
#include "http/protocol/IdMimeTable.h"
#include "http/server/IdThreadMgrPool.h"
#include "platform/RegionalFormats.h"
#include "publish/PublishSettings.h"
#include "publish/RequestHandler.h"
#include "publish/TlsIdentity.h"

class TIdServerIOHandlerSSL;

/// Whether an error that ended a connection only means that the client went away or the server
/// is stopping, which is not worth a log line: every EIdSilentException (a graceful close among
/// them), EIdClosedSocket, EIdNotConnected, and EIdSocketError 10053, 10054 or 10058. Any thread.
bool EndsConnectionQuietly(const std::exception& error);

/// The server that publishes what the settings say, for the window and for headless mode alike.
/// Owns the HTTP server httpd, whose requests go to its request handler, the type table
/// MimeTypes, and the pool of connection threads httpd uses. The settings source, the log sink and the regional formats are not owned and must
/// outlive it. An error that ends a connection becomes one log line ("exception : <class>")
/// unless EndsConnectionQuietly. Start, Stop and destruction: one thread (the window's or the
/// main thread); everything else runs on connection threads.
class TPublishServer {
public:
  TPublishServer(const ISettingsSource& settings, ILogSink& log, const platform::TRegionalFormats& formats);
  /// Stops the server, waiting as long as its connection threads take, also after a Stop that
  /// timed out: nothing they use goes before they have all ended.
  ~TPublishServer();
  TPublishServer(const TPublishServer&) = delete;
  TPublishServer& operator=(const TPublishServer&) = delete;

  /// Listens on port on every local address. Throws the engine's exception when it cannot
  /// (EIdCouldNotBindSocket when the port is taken, EIdSocketError 10013 without the right to
  /// bind it); the server then stays stopped.
  void Start(int port);
  /// Serves TLS and plain HTTP on the same port from the next Start (an identity without a
  /// context: plain HTTP only). With TLS, connections stay open for further requests, and
  /// "/?ca" answers the identity's authority certificate when it has one. Only while stopped.
  void SetTls(const TTlsIdentity& identity);
  /// Stops listening, closes every connection and waits up to httpd.TerminateWaitTime for the
  /// connection threads. Throws EIdTerminateThreadTimeout when some still run; the server then
  /// counts as active, and a later Stop (or the destructor) waits again. Nothing when stopped.
  void Stop();
  bool Active() const { return httpd.Active(); }

  TIdMimeTable MimeTypes;  // filled at construction, only read while serving
  // Connections carry further requests (httpd.KeepAlive) from the next Start on; off, each
  // carries one, unless TLS is on.
  bool KeepAlive = false;

private:
  TRequestHandler FHandler;
  TIdThreadMgrPool FThreads;  // connection threads kept for the next connections
  std::unique_ptr<TIdServerIOHandlerSSL> FTlsAcceptor;  // given to httpd while TLS is on

public:
  // Declared last, so destroyed first: every connection thread has ended (see the destructor)
  // while the handler and the type table above, and the settings, log and formats the caller
  // keeps, still live.
  TIdHTTPServer httpd;
};
