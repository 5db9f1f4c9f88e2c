#pragma once
// This user's own certificate authority and the server certificate it issues, kept on disk so
// that a device that trusts the authority once trusts every later server certificate.

#include <chrono>
#include <string>
#include <vector>

/// A server certificate with the chain a client is sent (server first, then the authority) and
/// its private key, in PEM.
struct TServerCredentials {
  std::string ChainPem;
  std::string KeyPem;
};

/// The authority kept in one folder: ca.key and ca.crt (ECDSA P-256, SHA-256, ten years, named
/// after the host), server.key and server.crt (ECDSA P-256, SHA-256, at most 825 days, for
/// serverAuth). Keys and certificates are written atomically with mode 0600, into a folder
/// created with mode 0700. Used by one thread (the one that starts the server).
class TCertificateAuthority {
public:
  /// Opens the authority in folder (with its trailing "/"), making it when neither of its files
  /// exists. Throws EIdOSSLError when the folder cannot be made or written, or when the
  /// authority's files cannot be read (a damaged authority is never replaced silently: devices
  /// trust it).
  TCertificateAuthority(std::string folder, std::string hostName);

  /// The server certificate for addresses, the host name, HOSTNAME.local, localhost and
  /// 127.0.0.1: the kept one while it names exactly those, comes from this authority and has
  /// more than 30 days left; otherwise a new one, written to the folder. Throws EIdOSSLError
  /// when it cannot be written.
  TServerCredentials ServerCredentials(const std::vector<std::string>& addresses);

  /// The authority's certificate in DER, the form devices install.
  const std::string& CertificateDer() const { return FCertificateDer; }
  /// Its SHA-256 fingerprint as colon-separated upper-case hex pairs.
  std::string Fingerprint() const;
  /// Whether ServerCredentials() issued a new certificate last time.
  bool Reissued() const { return FReissued; }

  /// $XDG_DATA_HOME/velmora/tls/ (by default ~/.local/share/velmora/tls/); empty without a home.
  static std::string DefaultFolder();
  /// The names a server certificate carries for addresses, in order and without repeats:
  /// "IP:" and "DNS:" entries.
  std::vector<std::string> SubjectNames(const std::vector<std::string>& addresses) const;

  static constexpr std::chrono::hours kAuthorityLifetime{24 * 3653};
  static constexpr std::chrono::hours kServerLifetime{24 * 825};
  static constexpr std::chrono::hours kRenewBefore{24 * 30};

private:
  void Create();
  std::string Path(const char* name) const { return FFolder + name; }
  void Write(const char* name, const std::string& text) const;

  std::string FFolder;
  std::string FHostName;
  std::string FKeyPem;
  std::string FCertificatePem;
  std::string FCertificateDer;
  bool FReissued = false;
};
