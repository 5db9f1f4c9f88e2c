#include "publish/TlsIdentity.h"

#include "http/io/IdSSLContext.h"
#include "http/net/IdException.h"
#include "platform/FileSystem.h"
#include "publish/CertificateAuthority.h"

namespace {

std::string ReadPem(const std::string& file) {
  std::string text;
  if (!platform::ReadTextFile(file, text)) throw EIdOSSLError("cannot read " + file);
  return text;
}

}  // namespace

TTlsIdentity LocalTlsIdentity(const std::string& folder, const std::string& hostName,
                              const std::vector<std::string>& addresses) {
  TCertificateAuthority authority(folder, hostName);
  const TServerCredentials credentials = authority.ServerCredentials(addresses);
  return {std::make_shared<const TIdSSLContext>(credentials.ChainPem, credentials.KeyPem), authority.CertificateDer(),
          authority.Fingerprint(), authority.Reissued()};
}

TTlsIdentity OwnTlsIdentity(const std::string& chainFile, const std::string& keyFile) {
  const std::string chain = ReadPem(chainFile);
  const std::string key = ReadPem(keyFile);
  try {
    return {std::make_shared<const TIdSSLContext>(chain, key), {}, {}, false};
  } catch (const EIdOSSLError& error) {
    throw EIdOSSLError(chainFile + ", " + keyFile + ": " + error.what());
  }
}
