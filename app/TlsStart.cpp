#include "app/TlsStart.h"

#include "app/AddressList.h"
#include "app/OperatorText.h"
#include "platform/InterfaceAddresses.h"
#include "publish/CertificateAuthority.h"

TTlsIdentity StartTlsIdentity(const std::string& certFile, const std::string& keyFile) {
  if (!certFile.empty() && !keyFile.empty()) return OwnTlsIdentity(certFile, keyFile);
  return LocalTlsIdentity(TCertificateAuthority::DefaultFolder(), platform::HostName(), HostAddresses());
}

std::string TlsFailureText(const std::exception& error) {
  return Bilingual(std::string("HTTPS を開始できません: ") + error.what(),
                   std::string("cannot start HTTPS: ") + error.what());
}

std::string SecureAddress(const std::string& entry) {
  return entry.starts_with("http://") ? "https://" + entry.substr(7) : entry;
}

std::string AuthorityAddress(const std::string& address, int port) { return AddressEntry(address, true, port) + "?ca"; }
