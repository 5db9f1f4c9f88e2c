#pragma once
// The connection a server hands to a connection thread.

#include "http/io/IdTCPConnection.h"

class TIdTCPServer;

/// A connection accepted by Server (not owned).
class TIdTCPServerConnection : public TIdTCPConnection {
public:
  explicit TIdTCPServerConnection(TIdTCPServer* server) : FServer(server) {}
  TIdTCPServer* Server() const { return FServer; }

private:
  TIdTCPServer* FServer;
};
