#include "http/server/IdServerIOHandlerSSL.h"

#include "http/io/IdSSLIOHandlerSocket.h"

std::unique_ptr<TIdIOHandlerSocket> TIdServerIOHandlerSSL::NewClientHandler() {
  return std::make_unique<TIdSSLIOHandlerSocket>(FContext, HandshakeLimitMs);
}
