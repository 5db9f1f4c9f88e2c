#include "http/io/IdSSLContext.h"

#include "http/net/IdException.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cstring>

namespace {

using TBio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using TX509 = std::unique_ptr<X509, decltype(&X509_free)>;
using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The library's reason for the last failure, for the operator; the queue is left empty.
std::string LibraryReason() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return {};
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? std::string(" (") + reason + ")" : std::string();
}

TBio MemoryBio(const std::string& text) {
  return TBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), BIO_free);
}

// Picks http/1.1 when the client offers it; a client that offers only other protocols goes on
// without ALPN rather than failing.
int SelectProtocol(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
                   unsigned int inLength, void*) {
  static const unsigned char kHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, outLength, kHttp11, sizeof kHttp11, in, inLength) != OPENSSL_NPN_NEGOTIATED)
    return SSL_TLSEXT_ERR_NOACK;
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw EIdOSSLError(what + LibraryReason());
}

}  // namespace

TIdSSLContext::TIdSSLContext(const std::string& chainPem, const std::string& keyPem)
    : FContext(SSL_CTX_new(TLS_server_method())) {
  try {
    Check(FContext != nullptr, "cannot create a TLS context");
    SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
    // Writes return once a record has gone, so that a slow client is measured as on a plain
    // socket, and a write retried after a wait may come from a moved buffer.
    SSL_CTX_set_mode(FContext, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                   SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_options(FContext, SSL_OP_ENABLE_KTLS | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    static const unsigned char kSessionContext[] = "velmora";
    SSL_CTX_set_session_id_context(FContext, kSessionContext, sizeof kSessionContext - 1);
    SSL_CTX_set_session_cache_mode(FContext, SSL_SESS_CACHE_SERVER);
    SSL_CTX_set_alpn_select_cb(FContext, SelectProtocol, nullptr);

    TBio chain = MemoryBio(chainPem);
    TX509 leaf(PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr), X509_free);
    Check(leaf != nullptr, "no certificate in PEM form");
    Check(SSL_CTX_use_certificate(FContext, leaf.get()) == 1, "the certificate is not usable");
    for (;;) {
      X509* next = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr);
      if (next == nullptr) break;
      // The context takes the reference.
      Check(SSL_CTX_add0_chain_cert(FContext, next) == 1, "a certificate of the chain is not usable");
    }
    ERR_clear_error();  // the end of the chain is an error to the library
    TBio keyText = MemoryBio(keyPem);
    TKey key(PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    Check(key != nullptr, "no private key in PEM form");
    Check(SSL_CTX_use_PrivateKey(FContext, key.get()) == 1 && SSL_CTX_check_private_key(FContext) == 1,
          "the private key does not belong to the certificate");
  } catch (...) {
    SSL_CTX_free(FContext);
    throw;
  }
}

TIdSSLContext::~TIdSSLContext() { SSL_CTX_free(FContext); }
