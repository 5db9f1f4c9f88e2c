#include "http/protocol/IdHTTPRequestReader.h"

#include "http/net/IdException.h"

std::size_t TIdHTTPRequestReader::Feed(std::string_view bytes) {
  if (FState == TState::Complete) return 0;
  const std::size_t lineEnd = bytes.find('\n');
  const bool ended = lineEnd != std::string_view::npos;
  const std::size_t taken = ended ? lineEnd + 1 : bytes.size();
  FHeadSize += taken;
  if (FHeadSize > FLimits.MaxHeadSize) throw EIdHTTPHeadTooLarge();
  FLine.append(bytes.substr(0, ended ? lineEnd : taken));
  // Everything before the LF counts, a CR included, as the connection's line reader counts it.
  if (FLine.size() > FLimits.MaxLineLength) throw EIdReadLnMaxLineLengthExceeded();
  if (ended && !FLine.empty() && FLine.back() == '\r') FLine.pop_back();
  if (ended) TakeLine();
  return taken;
}

void TIdHTTPRequestReader::TakeLine() {
  std::string line = std::move(FLine);
  FLine.clear();
  if (FState == TState::RequestLine) {
    FRequestLine = std::move(line);
    FState = TState::HeaderLines;
    return;
  }
  if (line.empty()) {
    FState = TState::Complete;
    return;
  }
  if (FHeaderLines.size() == FLimits.MaxHeaderLines) throw EIdHTTPHeadTooLarge();
  if (line.starts_with("..")) line.erase(0, 1);
  FHeaderLines.push_back(std::move(line));
}
