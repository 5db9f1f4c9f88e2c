#include "publish/CertificateAuthority.h"

#include "http/net/IdException.h"
#include "platform/CacheFolder.h"
#include "platform/FileSystem.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <set>

namespace {

template <typename T, void (*Free)(T*)>
struct TFreeWith {
  void operator()(T* p) const { Free(p); }
};
using TBio = std::unique_ptr<BIO, TFreeWith<BIO, BIO_free_all>>;
using TX509 = std::unique_ptr<X509, TFreeWith<X509, X509_free>>;
using TKey = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY, EVP_PKEY_free>>;
using TNames = std::unique_ptr<GENERAL_NAMES, TFreeWith<GENERAL_NAMES, GENERAL_NAMES_free>>;
using TExtension = std::unique_ptr<X509_EXTENSION, TFreeWith<X509_EXTENSION, X509_EXTENSION_free>>;

constexpr const char* kOrganization = "Velmora";

[[noreturn]] void Fail(const std::string& what) {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  throw EIdOSSLError(reason != nullptr ? what + " (" + reason + ")" : what);
}

void Require(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "cannot make an ECDSA P-256 key");
  return key;
}

std::string KeyPem(EVP_PKEY* key) {
  TBio out(BIO_new(BIO_s_mem()));
  Require(PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "cannot write a key");
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string CertificatePem(X509* certificate) {
  TBio out(BIO_new(BIO_s_mem()));
  Require(PEM_write_bio_X509(out.get(), certificate) == 1, "cannot write a certificate");
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

TKey ReadKey(const std::string& pem) {
  TBio in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return TKey(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
}

TX509 ReadCertificate(const std::string& pem) {
  TBio in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return TX509(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
}

void AddName(X509_NAME* name, const char* field, const std::string& value) {
  Require(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.data()),
                                     static_cast<int>(value.size()), -1, 0) == 1,
          "cannot name a certificate");
}

// A new certificate for key, valid from an hour ago (clocks of devices differ a little) for
// lifetime, with a random serial number.
TX509 NewCertificate(EVP_PKEY* key, const std::string& commonName, std::chrono::hours lifetime) {
  TX509 certificate(X509_new());
  Require(certificate != nullptr && X509_set_version(certificate.get(), 2) == 1, "cannot make a certificate");
  unsigned char serial[16];
  Require(RAND_bytes(serial, sizeof serial) == 1, "no random numbers");
  serial[0] &= 0x7F;  // a positive number
  std::unique_ptr<BIGNUM, TFreeWith<BIGNUM, BN_free>> number(BN_bin2bn(serial, sizeof serial, nullptr));
  Require(number != nullptr && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get())) != nullptr,
          "cannot number a certificate");
  const long start = -3600;
  Require(X509_gmtime_adj(X509_getm_notBefore(certificate.get()), start) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate.get()),
                              start + std::chrono::duration_cast<std::chrono::seconds>(lifetime).count()) != nullptr,
          "cannot date a certificate");
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  AddName(subject, "O", kOrganization);
  AddName(subject, "CN", commonName);
  Require(X509_set_pubkey(certificate.get(), key) == 1, "cannot give a certificate its key");
  return certificate;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  TExtension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Require(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1,
          "cannot add a certificate extension");
}

// An address as a certificate names it: the system's own text of its bytes; empty for anything
// that is no address of one host (a zone-scoped link-local address cannot be named at all).
std::string CanonicalAddress(std::string text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  unsigned char bytes[16];
  char shown[INET6_ADDRSTRLEN];
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return inet_ntop(AF_INET, bytes, shown, sizeof shown);
  if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return inet_ntop(AF_INET6, bytes, shown, sizeof shown);
  return {};
}

bool IsHostName(const std::string& name) {
  return !name.empty() && name.size() <= 253 && name.front() != '-' && name.front() != '.' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
         });
}

// The subject names a certificate carries, as "IP:" and "DNS:" entries.
std::set<std::string> NamesOf(X509* certificate) {
  std::set<std::string> names;
  TNames list(static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; list && i < sk_GENERAL_NAME_num(list.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(list.get(), i);
    if (name->type == GEN_DNS) {
      const ASN1_IA5STRING* text = name->d.dNSName;
      names.insert("DNS:" + std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                                        static_cast<std::size_t>(ASN1_STRING_length(text))));
    } else if (name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* bytes = name->d.iPAddress;
      char shown[INET6_ADDRSTRLEN];
      const int family = ASN1_STRING_length(bytes) == 16 ? AF_INET6 : AF_INET;
      if (inet_ntop(family, ASN1_STRING_get0_data(bytes), shown, sizeof shown) != nullptr)
        names.insert(std::string("IP:") + shown);
    }
  }
  return names;
}

bool ExpiresWithin(X509* certificate, std::chrono::hours margin) {
  std::time_t moment = std::time(nullptr) + std::chrono::duration_cast<std::chrono::seconds>(margin).count();
  return X509_cmp_time(X509_get0_notAfter(certificate), &moment) <= 0;
}

}  // namespace

TCertificateAuthority::TCertificateAuthority(std::string folder, std::string hostName)
    : FFolder(std::move(folder)), FHostName(std::move(hostName)) {
  if (FFolder.empty() || !platform::ForceFolders(FFolder))
    throw EIdOSSLError("cannot make the folder of the certificate authority " + FFolder);
  std::string keyPem, certificatePem;
  const bool hasKey = platform::FileExists(Path("ca.key"));
  const bool hasCertificate = platform::FileExists(Path("ca.crt"));
  if (!hasKey && !hasCertificate) {
    Create();
    return;
  }
  if (!platform::ReadTextFile(Path("ca.key"), keyPem) || !platform::ReadTextFile(Path("ca.crt"), certificatePem))
    throw EIdOSSLError("cannot read the certificate authority in " + FFolder);
  const TKey key = ReadKey(keyPem);
  const TX509 certificate = ReadCertificate(certificatePem);
  if (!key || !certificate || X509_check_private_key(certificate.get(), key.get()) != 1)
    Fail("the certificate authority in " + FFolder + " is damaged");
  FKeyPem = keyPem;
  FCertificatePem = certificatePem;
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate.get(), &der);
  Require(size > 0, "cannot encode the authority's certificate");
  FCertificateDer.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
}

void TCertificateAuthority::Create() {
  const TKey key = NewKey();
  const std::string host = FHostName.empty() ? "localhost" : FHostName;
  const TX509 certificate = NewCertificate(key.get(), "Velmora CA " + host, kAuthorityLifetime);
  Require(X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get())) == 1,
          "cannot name the authority");
  AddExtension(certificate.get(), certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate.get(), certificate.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash");
  AddExtension(certificate.get(), certificate.get(), NID_authority_key_identifier, "keyid:always");
  Require(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "cannot sign the authority's certificate");
  FKeyPem = KeyPem(key.get());
  FCertificatePem = CertificatePem(certificate.get());
  // The key first: a certificate without its key would be a damaged authority at the next start.
  Write("ca.key", FKeyPem);
  Write("ca.crt", FCertificatePem);
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate.get(), &der);
  Require(size > 0, "cannot encode the authority's certificate");
  FCertificateDer.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
}

void TCertificateAuthority::Write(const char* name, const std::string& text) const {
  if (!platform::WriteFileAtomically(Path(name), text)) throw EIdOSSLError("cannot write " + Path(name));
}

std::string TCertificateAuthority::DefaultFolder() {
  const std::string data = platform::UserDataFolder();
  return data.empty() ? std::string() : data + "velmora/tls/";
}

std::vector<std::string> TCertificateAuthority::SubjectNames(const std::vector<std::string>& addresses) const {
  std::vector<std::string> names;
  const auto add = [&names](const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  add("DNS:localhost");
  if (IsHostName(FHostName)) {
    add("DNS:" + FHostName);
    // The name the host answers to by multicast DNS: its first label in the .local domain.
    add("DNS:" + FHostName.substr(0, FHostName.find('.')) + ".local");
  }
  add("IP:127.0.0.1");
  for (const std::string& address : addresses) {
    const std::string canonical = CanonicalAddress(address);
    if (!canonical.empty()) add("IP:" + canonical);
  }
  return names;
}

std::string TCertificateAuthority::Fingerprint() const {
  const TX509 certificate = ReadCertificate(FCertificatePem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  Require(certificate && X509_digest(certificate.get(), EVP_sha256(), digest, &size) == 1, "cannot take a fingerprint");
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    if (i != 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

TServerCredentials TCertificateAuthority::ServerCredentials(const std::vector<std::string>& addresses) {
  const std::vector<std::string> names = SubjectNames(addresses);
  const TKey authorityKey = ReadKey(FKeyPem);
  const TX509 authority = ReadCertificate(FCertificatePem);
  Require(authorityKey && authority, "the certificate authority is damaged");

  TServerCredentials kept;
  if (platform::ReadTextFile(Path("server.key"), kept.KeyPem) &&
      platform::ReadTextFile(Path("server.crt"), kept.ChainPem)) {
    const TKey key = ReadKey(kept.KeyPem);
    const TX509 certificate = ReadCertificate(kept.ChainPem);
    if (key && certificate && X509_check_private_key(certificate.get(), key.get()) == 1 &&
        X509_verify(certificate.get(), authorityKey.get()) == 1 && !ExpiresWithin(certificate.get(), kRenewBefore) &&
        NamesOf(certificate.get()) == std::set<std::string>(names.begin(), names.end())) {
      ERR_clear_error();
      FReissued = false;
      kept.ChainPem += FCertificatePem;
      return kept;
    }
  }
  ERR_clear_error();

  const TKey key = NewKey();
  const TX509 certificate =
      NewCertificate(key.get(), IsHostName(FHostName) ? FHostName : std::string("localhost"), kServerLifetime);
  Require(X509_set_issuer_name(certificate.get(), X509_get_subject_name(authority.get())) == 1,
          "cannot name the issuer");
  std::string alternatives;
  for (const std::string& name : names) alternatives += (alternatives.empty() ? "" : ",") + name;
  AddExtension(certificate.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate.get(), authority.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(certificate.get(), authority.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(certificate.get(), authority.get(), NID_subject_alt_name, alternatives);
  AddExtension(certificate.get(), authority.get(), NID_subject_key_identifier, "hash");
  AddExtension(certificate.get(), authority.get(), NID_authority_key_identifier, "keyid:always");
  Require(X509_sign(certificate.get(), authorityKey.get(), EVP_sha256()) > 0, "cannot sign the server certificate");

  TServerCredentials issued{CertificatePem(certificate.get()), KeyPem(key.get())};
  Write("server.key", issued.KeyPem);
  Write("server.crt", issued.ChainPem);
  FReissued = true;
  issued.ChainPem += FCertificatePem;
  return issued;
}
