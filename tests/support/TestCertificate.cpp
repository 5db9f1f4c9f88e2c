#include "support/TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

std::string ToPem(int (*write)(BIO*, void*), void* object) {
  BIO* out = BIO_new(BIO_s_mem());
  write(out, object);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(out);
  return text;
}

}  // namespace

TTestCertificate MakeSelfSignedCertificate(const char* commonName) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
  X509_set_pubkey(certificate, key);
  X509_sign(certificate, key, EVP_sha256());
  TTestCertificate made{
      ToPem([](BIO* out, void* x) { return PEM_write_bio_X509(out, static_cast<X509*>(x)); }, certificate),
      ToPem([](BIO* out, void* k) {
        return PEM_write_bio_PrivateKey(out, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0, nullptr, nullptr);
      }, key)};
  X509_free(certificate);
  EVP_PKEY_free(key);
  return made;
}
