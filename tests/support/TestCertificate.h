#pragma once
// A certificate for tests that need a TLS server: self-signed, ECDSA P-256, valid for an hour.

#include <string>

struct TTestCertificate {
  std::string ChainPem, KeyPem;
};

/// A fresh certificate named commonName, with its key, both in PEM.
TTestCertificate MakeSelfSignedCertificate(const char* commonName);
