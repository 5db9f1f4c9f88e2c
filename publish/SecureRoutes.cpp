#include "publish/SecureRoutes.h"

#include "http/protocol/IdURI.h"

namespace {

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
  response.Location = "https://" + (TIdURI::IsHostAndPort(request.Host) ? request.Host : localAddress) + TargetOf(request);
  response.BodyText = response.StatusPage();
  response.ContentType = "text/html";
}
