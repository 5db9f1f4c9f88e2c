// The local certificate authority, read back with OpenSSL: the fields that phones check on a
// trusted authority and server certificate, the files' modes, and when the server certificate
// is issued again.

#include "publish/CertificateAuthority.h"
#include "http/net/IdException.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

namespace {

using TX509 = std::unique_ptr<X509, decltype(&X509_free)>;

TX509 ReadCertificate(const std::string& pem) {
  BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  TX509 certificate(PEM_read_bio_X509(in, nullptr, nullptr, nullptr), X509_free);
  BIO_free(in);
  return certificate;
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return static_cast<int>(st.st_mode & 0777);
}

// Days from now until the certificate's end, and from its start to its end.
double DaysLeft(X509* certificate) {
  int days = 0, seconds = 0;
  ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificate));
  return days + seconds / 86400.0;
}

double LifetimeDays(X509* certificate) {
  int days = 0, seconds = 0;
  ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate), X509_get0_notAfter(certificate));
  return days + seconds / 86400.0;
}

std::set<std::string> AlternativeNames(X509* certificate) {
  std::set<std::string> names;
  auto* list = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; list != nullptr && i < sk_GENERAL_NAME_num(list); ++i) {
    int type = 0;
    ASN1_STRING* value = static_cast<ASN1_STRING*>(GENERAL_NAME_get0_value(sk_GENERAL_NAME_value(list, i), &type));
    const unsigned char* data = ASN1_STRING_get0_data(value);
    if (type == GEN_DNS) names.insert("DNS:" + std::string(reinterpret_cast<const char*>(data), ASN1_STRING_length(value)));
    if (type == GEN_IPADD && ASN1_STRING_length(value) == 4)
      names.insert("IP:" + std::to_string(data[0]) + "." + std::to_string(data[1]) + "." + std::to_string(data[2]) +
                   "." + std::to_string(data[3]));
    if (type == GEN_IPADD && ASN1_STRING_length(value) == 16) names.insert("IP:v6");
  }
  GENERAL_NAMES_free(list);
  return names;
}

bool IsP256(X509* certificate) {
  EVP_PKEY* key = X509_get0_pubkey(certificate);
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
         EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
         std::string(group) == "prime256v1";
}

class CertificateAuthorityTest : public ::testing::Test {
protected:
  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() / ("velmora-ca-" + std::to_string(::getpid())) / "tls";
    std::filesystem::remove_all(FFolder.parent_path());
  }
  void TearDown() override { std::filesystem::remove_all(FFolder.parent_path()); }
  std::string Folder() const { return FFolder.string() + "/"; }

  std::filesystem::path FFolder;
};

TEST_F(CertificateAuthorityTest, AuthorityIsAnEcdsaCaOfTenYearsNamedAfterTheHost) {
  TCertificateAuthority authority(Folder(), "studio");
  const TX509 ca = ReadCertificate(FileText(FFolder / "ca.crt"));
  ASSERT_TRUE(ca);
  EXPECT_TRUE(IsP256(ca.get()));
  EXPECT_EQ(X509_get_signature_nid(ca.get()), NID_ecdsa_with_SHA256);
  EXPECT_NEAR(LifetimeDays(ca.get()), 3653, 1);
  char name[256];
  X509_NAME_get_text_by_NID(X509_get_subject_name(ca.get()), NID_commonName, name, sizeof name);
  EXPECT_NE(std::string(name).find("studio"), std::string::npos) << name;

  int critical = 0;
  auto* constraints = static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(ca.get(), NID_basic_constraints, &critical, nullptr));
  ASSERT_NE(constraints, nullptr);
  EXPECT_TRUE(constraints->ca);
  EXPECT_EQ(critical, 1);
  BASIC_CONSTRAINTS_free(constraints);
  EXPECT_EQ(X509_get_key_usage(ca.get()), static_cast<std::uint32_t>(KU_KEY_CERT_SIGN | KU_CRL_SIGN));
  EXPECT_NE(X509_get0_subject_key_id(ca.get()), nullptr);
  EXPECT_NE(X509_get0_authority_key_id(ca.get()), nullptr);

  // The form devices install, and the fingerprint people compare with it.
  const std::string& der = authority.CertificateDer();
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  TX509 fromDer(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())), X509_free);
  ASSERT_TRUE(fromDer);
  EXPECT_EQ(X509_cmp(fromDer.get(), ca.get()), 0);
  EXPECT_EQ(authority.Fingerprint().size(), 32u * 3 - 1);

  EXPECT_EQ(ModeOf(FFolder), 0700);
  EXPECT_EQ(ModeOf(FFolder / "ca.key"), 0600);
}

TEST_F(CertificateAuthorityTest, ServerCertificateMeetsTheRulesForTrustedServers) {
  TCertificateAuthority authority(Folder(), "studio.example.org");
  const TServerCredentials credentials = authority.ServerCredentials({"192.0.2.7", "10.1.2.3", "fe80::1%eth0"});
  const TX509 server = ReadCertificate(credentials.ChainPem);
  ASSERT_TRUE(server);
  EXPECT_TRUE(IsP256(server.get()));
  EXPECT_EQ(X509_get_signature_nid(server.get()), NID_ecdsa_with_SHA256);
  EXPECT_LE(LifetimeDays(server.get()), 825);
  EXPECT_GT(DaysLeft(server.get()), 800);
  EXPECT_EQ(X509_get_extended_key_usage(server.get()), static_cast<std::uint32_t>(XKU_SSL_SERVER));
  EXPECT_EQ(X509_get_key_usage(server.get()), static_cast<std::uint32_t>(KU_DIGITAL_SIGNATURE));
  EXPECT_EQ(X509_check_ca(server.get()), 0);
  // A zone-scoped address cannot be named, so it is left out rather than failing the rest.
  EXPECT_EQ(AlternativeNames(server.get()),
            (std::set<std::string>{"DNS:localhost", "DNS:studio.example.org", "DNS:studio.local", "IP:127.0.0.1",
                                   "IP:192.0.2.7", "IP:10.1.2.3"}));
  EXPECT_EQ(ModeOf(FFolder / "server.key"), 0600);

  // The chain the server sends verifies against the authority alone, for the names it carries.
  const TX509 ca = ReadCertificate(FileText(FFolder / "ca.crt"));
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, ca.get());
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  X509_STORE_CTX_init(context, store, server.get(), nullptr);
  X509_VERIFY_PARAM_set1_ip_asc(X509_STORE_CTX_get0_param(context), "192.0.2.7");
  X509_STORE_CTX_set_purpose(context, X509_PURPOSE_SSL_SERVER);
  EXPECT_EQ(X509_verify_cert(context), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
}

TEST_F(CertificateAuthorityTest, ServerCertificateIsKeptUntilTheAddressesChange) {
  std::string firstPem, firstFingerprint;
  {
    TCertificateAuthority authority(Folder(), "studio");
    firstPem = authority.ServerCredentials({"192.0.2.7", "10.1.2.3"}).ChainPem;
    EXPECT_TRUE(authority.Reissued());
    firstFingerprint = authority.Fingerprint();
  }
  // A later start with the same addresses, in another order: the same certificate and authority.
  TCertificateAuthority again(Folder(), "studio");
  EXPECT_EQ(again.Fingerprint(), firstFingerprint);
  EXPECT_EQ(again.ServerCredentials({"10.1.2.3", "192.0.2.7", "192.0.2.7"}).ChainPem, firstPem);
  EXPECT_FALSE(again.Reissued());
  // A new address: a new server certificate from the same authority.
  const std::string moved = again.ServerCredentials({"192.0.2.8", "10.1.2.3"}).ChainPem;
  EXPECT_TRUE(again.Reissued());
  EXPECT_NE(moved, firstPem);
  EXPECT_EQ(AlternativeNames(ReadCertificate(moved).get()).count("IP:192.0.2.8"), 1u);
  EXPECT_EQ(again.Fingerprint(), firstFingerprint);
}

TEST_F(CertificateAuthorityTest, DamagedServerFilesAreReplacedButADamagedAuthorityIsNot) {
  { TCertificateAuthority(Folder(), "studio").ServerCredentials({"192.0.2.7"}); }
  std::ofstream(FFolder / "server.key") << "broken";
  TCertificateAuthority authority(Folder(), "studio");
  authority.ServerCredentials({"192.0.2.7"});
  EXPECT_TRUE(authority.Reissued());

  const std::string key = FileText(FFolder / "ca.key");
  std::ofstream(FFolder / "ca.key") << "broken";
  EXPECT_THROW(TCertificateAuthority(Folder(), "studio"), EIdOSSLError);
  EXPECT_EQ(FileText(FFolder / "ca.key"), "broken");  // devices trust it: never made anew behind the operator's back
}

TEST_F(CertificateAuthorityTest, SubjectNamesTakeOnlyWhatACertificateCanName) {
  const TCertificateAuthority authority(Folder(), "bad name,DNS:evil.example");
  EXPECT_EQ(authority.SubjectNames({"[2001:db8::1]", "2001:DB8::1", "not an address", "127.0.0.1"}),
            (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1", "IP:2001:db8::1"}));
}

}  // namespace
