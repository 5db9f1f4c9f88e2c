#pragma once
// The server's TLS settings: its certificate chain and key, the protocol versions, ALPN and the
// session cache, shared by every TLS connection of a server.

#include <memory>
#include <string>

struct ssl_ctx_st;

/// One OpenSSL server context: TLS 1.2 and 1.3 only, the library's default ciphers, ALPN
/// "http/1.1", sessions resumed from the cache or a ticket, kernel TLS where the kernel offers it.
/// Immutable once made; any thread may start sessions from it.
class TIdSSLContext {
public:
  /// From PEM text: the certificate chain (the server's own first) and its private key. Throws
  /// EIdOSSLError naming what is wrong: no certificate, no key, or a key that does not belong to
  /// the certificate.
  TIdSSLContext(const std::string& chainPem, const std::string& keyPem);
  ~TIdSSLContext();
  TIdSSLContext(const TIdSSLContext&) = delete;
  TIdSSLContext& operator=(const TIdSSLContext&) = delete;

  ssl_ctx_st* Handle() const { return FContext; }

private:
  ssl_ctx_st* FContext;
};
