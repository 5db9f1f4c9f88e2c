#pragma once
// An HTTP server on 127.0.0.1 at a port the system chooses, whose OnCommandGet runs the test's
// handler and keeps a copy of every request record the handler saw.

#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "http/net/IdException.h"
#include "http/protocol/IdHTTPServer.h"
#include "http/server/IdPeerThread.h"
#include "support/HttpExchange.h"

// The last-write time the file answer tests give their files, and the Last-Modified line it
// makes in any zone.
inline constexpr std::time_t kFileTime = 1087651337;  // 2004-06-19 13:22:17 UTC
inline constexpr char kFileLastModified[] = "Last-Modified: Sat, 19 Jun 2004 13:22:17 GMT\r\n";

// The Content-Disposition line of a file answer, for a name that needs no escaping.
inline std::string DispositionLine(const std::string& name) {
  return "Content-Disposition: inline; filename=\"" + name + "\"; filename*=UTF-8''" + name + "\r\n";
}

struct TSeenRequest {
  std::string Command, Document, Version, QueryText, PostText, AuthUser, AuthPassword, Host, RemoteIP;
  bool AuthPresent = false;
};

class THttpServerFixture : public ::testing::Test {
protected:
  THttpServerFixture() {
    TIdSocketHandle& binding = Server.Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = 0;  // the system chooses; the server's default would be 80
    Server.OnCommandGet = [this](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
      {
        std::lock_guard<std::mutex> lock(FLock);
        FSeen.push_back({request.Command, request.Document, request.Version, request.QueryText, request.PostText,
                         request.AuthUser, request.AuthPassword, request.Host, request.RemoteIP,
                         request.AuthPresent});
      }
      if (Handler) Handler(thread, request, response);
    };
    Server.OnException = [this](TIdPeerThread&, const std::exception& error) {
      const auto* engineError = dynamic_cast<const EIdException*>(&error);
      std::lock_guard<std::mutex> lock(FLock);
      FErrors.push_back(engineError != nullptr ? engineError->ClassName() : "other");
    };
  }
  ~THttpServerFixture() override { Server.SetActive(false); }

  // Set Handler before calling Start.
  void Start() {
    Server.SetActive(true);
    ASSERT_TRUE(Server.Active());
  }
  int Port() { return Server.Bindings()[0].Port; }

  std::vector<TSeenRequest> Seen() {
    std::lock_guard<std::mutex> lock(FLock);
    return FSeen;
  }
  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> lock(FLock);
    return FErrors;
  }
  void ClearErrors() {
    std::lock_guard<std::mutex> lock(FLock);
    FErrors.clear();
  }

  TIdHTTPServer Server;
  TIdHTTPGetEvent Handler;

private:
  std::mutex FLock;
  std::vector<TSeenRequest> FSeen;   // guarded by FLock
  std::vector<std::string> FErrors;  // guarded by FLock
};
