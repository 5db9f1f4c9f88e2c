#pragma once
// What a server needs to speak TLS: its TLS context, and the certificate of the local authority
// when the server's certificate comes from it.

#include <memory>
#include <string>
#include <vector>

class TIdSSLContext;

struct TTlsIdentity {
  std::shared_ptr<const TIdSSLContext> Context;  // none: plain HTTP only
  std::string AuthorityDer;                     // what "/?ca" answers; empty: no such route
  std::string AuthorityFingerprint;             // SHA-256, colon-separated hex pairs
  bool Reissued = false;                        // the server certificate was issued anew
};

/// The server certificate of the local authority in folder (made the first time) for hostName
/// and addresses. Throws EIdOSSLError when the authority cannot be made, read or written.
TTlsIdentity LocalTlsIdentity(const std::string& folder, const std::string& hostName,
                              const std::vector<std::string>& addresses);

/// The operator's own certificate chain (PEM, the server's first) and key (PEM). Throws
/// EIdOSSLError naming the file that cannot be read, or what the library refuses in them.
TTlsIdentity OwnTlsIdentity(const std::string& chainFile, const std::string& keyFile);
