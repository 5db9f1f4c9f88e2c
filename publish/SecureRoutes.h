#pragma once
// What a server that speaks TLS answers on its own: the certificate of its authority, for
// devices to install, and the way from a plain request to the secure address.

#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdHTTPResponseInfo.h"

#include <string>

/// Whether the request asks for the authority's certificate: GET or HEAD of "/" with the query
/// "ca".
bool IsAuthorityRequest(const TIdHTTPRequestInfo& request);

/// The authority's certificate as devices install it: its DER bytes as
/// application/x-x509-ca-cert, saved as velmora-ca.crt.
void AnswerAuthority(TIdHTTPResponseInfo& response, const std::string& certificateDer);

/// The 301 to the same request over TLS: "https://", the request's Host (localAddress when it
/// sent none, or one that is no host name, address and port), and its target as sent (a target
/// that is not a path becomes "/"), so it never leads to another server than the client named.
void AnswerSecureRedirect(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                          const std::string& localAddress);
