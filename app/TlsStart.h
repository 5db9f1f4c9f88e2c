#pragma once
// How the program starts HTTPS, for the window and headless mode alike: where its certificate
// comes from, what the operator is told, and the addresses people are given. No Qt.

#include <exception>
#include <string>

#include "publish/TlsIdentity.h"

/// The operator's chain and key when both files are given; else the server certificate of this
/// user's local authority for this host and its addresses (HostAddresses()), the authority made
/// the first time. Throws EIdOSSLError.
TTlsIdentity StartTlsIdentity(const std::string& certFile, const std::string& keyFile);

/// Why HTTPS could not start, in one line, Japanese first and the English beside it.
std::string TlsFailureText(const std::exception& error);

/// An address entry ("http://192.0.2.2:8080/...") as the same address over TLS.
std::string SecureAddress(const std::string& entry);

/// Where devices fetch the authority's certificate: http://ADDRESS[:PORT]/?ca (plain HTTP, so
/// that a device can fetch it before it trusts anything here).
std::string AuthorityAddress(const std::string& address, int port);
