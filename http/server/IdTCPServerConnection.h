#pragma once
// The connection a server hands to a connection thread.

#include "http/io/IdTCPConnection.h"

#include <string>

class IIdThreadHost;

/// A connection accepted by Server (not owned), through which its thread reaches the server.
class TIdTCPServerConnection : public TIdTCPConnection {
public:
  explicit TIdTCPServerConnection(IIdThreadHost* server, std::string clientAddress = {})
      : FServer(server), FClientAddress(std::move(clientAddress)) {}
  IIdThreadHost* Server() const { return FServer; }
  /// The client's dotted address as accepted; kept after the socket is closed.
  const std::string& ClientAddress() const { return FClientAddress; }

private:
  IIdThreadHost* FServer;
  const std::string FClientAddress;
};
