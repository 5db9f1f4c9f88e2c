#pragma once
// Accepting clients on a port that speaks TLS and plain HTTP alike.

#include "http/server/IdServerIOHandlerSocket.h"

#include <memory>

class TIdSSLContext;

/// Gives every accepted client a TIdSSLIOHandlerSocket of Context, which decides from the
/// client's first byte whether the connection carries TLS. The context is shared with the
/// connections, which may outlive this object. Listener thread.
class TIdServerIOHandlerSSL : public TIdServerIOHandlerSocket {
public:
  explicit TIdServerIOHandlerSSL(std::shared_ptr<const TIdSSLContext> context) : FContext(std::move(context)) {}

  int HandshakeLimitMs = 10000;  // from the accept to the end of the handshake

protected:
  std::unique_ptr<TIdIOHandlerSocket> NewClientHandler() override;

private:
  std::shared_ptr<const TIdSSLContext> FContext;
};
