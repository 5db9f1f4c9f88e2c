#pragma once
// The HTTP server class that hosts create.

#include "http/protocol/IdCustomHTTPServer.h"

/// The HTTP server as hosts use it: everything is TIdCustomHTTPServer's.
class TIdHTTPServer : public TIdCustomHTTPServer {
public:
  using TIdCustomHTTPServer::TIdCustomHTTPServer;
};
