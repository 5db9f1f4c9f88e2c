#include "http/protocol/IdCustomHTTPServer.h"

#include "http/net/IdException.h"
#include "http/io/IdFileStream.h"
#include "http/server/IdPeerThread.h"

TIdCustomHTTPServer::TIdCustomHTTPServer() {
  SetDefaultPort(80);
  // One client cannot take every thread: others are still served once it holds its share.
  MaxConnections = 1024;
  MaxConnectionsPerAddress = 128;
  MaxConnectionReply.Text = {"HTTP/1.1 503 Service Unavailable", "Connection: close", "Content-Length: 0", ""};
}

TIdCustomHTTPServer::~TIdCustomHTTPServer() {
  // The TCP server's destructor would stop the server only after this part is gone, while
  // connection threads still run the request cycle: stop here, waiting as long as it takes.
  for (;;) {
    try {
      SetActive(false);
      return;
    } catch (const EIdTerminateThreadTimeout&) {
      // Some connection threads outlived TerminateWaitTime; close their sockets and wait again.
    }
  }
}

void TIdCustomHTTPServer::SetActive(bool value) {
  if (value && !Active() && SessionTimeOut == 0) FSessionState = false;
  TIdTCPServer::SetActive(value);
}

void TIdCustomHTTPServer::SetSessionState(bool value) {
  if (Active()) throw EIdHTTPCannotSwitchSessionStateWhenActive();
  FSessionState = value;
}

void TIdCustomHTTPServer::HandleCommandOther(TIdPeerThread& Thread, const std::string& asCommand,
                                             const std::string& asData, const std::string& asVersion) {
  if (OnCommandOther) OnCommandOther(Thread, asCommand, asData, asVersion);
}

void TIdCustomHTTPServer::HandleCommandGet(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo,
                                           TIdHTTPResponseInfo& AResponseInfo) {
  if (OnCommandGet) OnCommandGet(AThread, ARequestInfo, AResponseInfo);
}

void TIdCustomHTTPServer::HandleCreatePostStream(TIdPeerThread& ASender, std::unique_ptr<TIdStream>& VPostStream) {
  if (OnCreatePostStream) OnCreatePostStream(ASender, VPostStream);
}

std::int64_t TIdCustomHTTPServer::SendFileResponse(TIdPeerThread& AThread, TIdHTTPResponseInfo& AResponseInfo,
                                                   const std::string& fileName) {
  // Opened once, before anything is written: the length announced is the length sent, and a
  // file that cannot be read is refused while the answer can still say so.
  TIdReadOnlyFileStream file(fileName);
  if (AResponseInfo.ContentType.empty()) AResponseInfo.ContentType = FMimeTable.MimeTypeOf(fileName);
  AResponseInfo.AssignContentLength(file.SizeAtOpen());
  AResponseInfo.WriteHead();
  // The platform's file transmit call: the same bytes, without passing through this process.
  return AThread.Connection()->WriteFileRange(file, 0, file.SizeAtOpen(), true);
}
