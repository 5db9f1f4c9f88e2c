// The framing rule of kept connections: a head it lets through is read by the header list with
// one length, the same on every Content-Length line, and with no Transfer-Encoding, so that no
// reader in front of the server can find another end of the body in it.
// Input: header lines, each ending in LF (a CR before it dropped).

#include "FuzzCheck.h"
#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdHTTPPersistence.h"
#include "http/protocol/IdHTTPRequestInfo.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  if (HasAmbiguousFraming(lines)) return 0;

  TIdHTTPRequestInfo request;
  for (const std::string& line : lines) request.HeaderLines.Add(line);
  request.ParseHeaderLines();
  std::vector<std::string> encodings;
  request.HeaderLines.CollectValues("Transfer-Encoding", &encodings);
  FUZZ_CHECK(encodings.empty());
  std::vector<std::string> lengths;
  request.HeaderLines.CollectValues("Content-Length", &lengths);
  FUZZ_CHECK(lengths.empty() == (request.ContentLength() == -1));
  for (const std::string& length : lengths) FUZZ_CHECK(StrToInt64Def(Trim(length), -1) == request.ContentLength());
  return 0;
}
