#pragma once
// The head of one HTTP request read from bytes as they arrive, apart from any socket, so that it
// can be tested and fuzzed on its own.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// How much head a client may send before the request is refused.
struct TIdHTTPHeadLimits {
  std::size_t MaxLineLength = 16384;     // bytes of one line before its LF, a CR among them
  std::size_t MaxHeaderLines = 100;      // lines between the request line and the empty line
  std::size_t MaxHeadSize = 64 * 1024;   // everything up to and including the empty line
};

/// Reads a request head line by line: the request line, then the header lines up to the first
/// empty line. A line ends in LF; a CR before the LF is dropped; a header line beginning with ".."
/// loses its first dot. The work is linear in the bytes fed, however they are split. Used by one
/// thread.
class TIdHTTPRequestReader {
public:
  enum class TState { RequestLine, HeaderLines, Complete };

  explicit TIdHTTPRequestReader(TIdHTTPHeadLimits limits = {}) : FLimits(limits) {}

  /// Takes the bytes up to and including the end of the next line, or all of them when no line
  /// ends in them, and returns how many it took (none once the head is complete). Throws
  /// EIdReadLnMaxLineLengthExceeded for a line longer than MaxLineLength, EIdHTTPHeadTooLarge
  /// for more than MaxHeaderLines header lines or a head longer than MaxHeadSize.
  std::size_t Feed(std::string_view bytes);

  TState State() const { return FState; }
  /// The request line as sent, without its line end; empty before it is complete.
  const std::string& RequestLine() const { return FRequestLine; }
  /// The header lines in their order, unparsed.
  const std::vector<std::string>& HeaderLines() const { return FHeaderLines; }
  /// Hands the header lines over; the reader keeps none.
  std::vector<std::string> TakeHeaderLines() { return std::move(FHeaderLines); }

private:
  void TakeLine();

  TIdHTTPHeadLimits FLimits;
  TState FState = TState::RequestLine;
  std::size_t FHeadSize = 0;  // bytes taken so far
  std::string FLine;          // the line being received
  std::string FRequestLine;
  std::vector<std::string> FHeaderLines;
};
