#include "publish/SecureRoutes.h"

#include <algorithm>

namespace {

// A Host header that names a host (a name, an IPv4 address or a bracketed IPv6 one) and maybe
// a port: nothing that could end the header or start a path.
bool IsPlainHost(const std::string& host) {
  return !host.empty() && host.size() <= 255 && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == ':' || c == '[' || c == ']';
  });
}

// The request target as the request line carried it, when it is a path.
std::string TargetOf(const TIdHTTPRequestInfo& request) {
  const std::string& line = request.RequestLine;
  const std::size_t start = line.find(' ');
  const std::size_t end = line.rfind(' ');
  if (start == std::string::npos || end <= start) return "/";
  const std::string target = line.substr(start + 1, end - start - 1);
  // "//host/..." would name another server after the scheme's host.
  return target.starts_with('/') && !target.starts_with("//") ? target : "/";
}

}  // namespace

bool IsAuthorityRequest(const TIdHTTPRequestInfo& request) {
  return (request.Command == "GET" || request.Command == "HEAD") && request.Document == "/" &&
         request.QueryText == "ca";
}

void AnswerAuthority(TIdHTTPResponseInfo& response, const std::string& certificateDer) {
  response.SetStatusCode(200);
  response.ContentType = "application/x-x509-ca-cert";
  response.ContentDisposition = "attachment; filename=\"velmora-ca.crt\"";
  response.BodyText = certificateDer;
}

void AnswerSecureRedirect(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                          const std::string& localAddress) {
  response.SetStatusCode(301);
  response.Location = "https://" + (IsPlainHost(request.Host) ? request.Host : localAddress) + TargetOf(request);
  response.BodyText = response.StatusPage();
  response.ContentType = "text/html";
}
