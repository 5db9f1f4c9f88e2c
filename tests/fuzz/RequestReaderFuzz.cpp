// The request head reader: whatever the bytes and however they arrive (in one piece, in the
// pieces the input picks, a byte at a time), the outcome is the same, the lines are those sent
// and every limit holds.
// Input: whether to use small limits (and which), the sizes of the pieces, then the bytes.

#include "FuzzCheck.h"
#include "http/net/IdException.h"
#include "http/protocol/IdHTTPRequestReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TState = TIdHTTPRequestReader::TState;

namespace {

struct TOutcome {
  bool Refused = false;
  TState State = TState::RequestLine;
  std::size_t Taken = 0;
  std::string RequestLine;
  std::vector<std::string> HeaderLines;

  bool operator==(const TOutcome&) const = default;
};

// Offers the reader the bytes piece by piece (the sizes repeat), each piece until the reader has
// taken all of it, and checks what every Feed takes: the bytes up to a line end, or all it got.
TOutcome Read(std::string_view bytes, const TIdHTTPHeadLimits& limits, const std::vector<std::size_t>& pieces) {
  TIdHTTPRequestReader reader(limits);
  TOutcome outcome;
  try {
    for (std::size_t piece = 0; outcome.Taken < bytes.size() && reader.State() != TState::Complete; ++piece) {
      std::string_view offered = bytes.substr(outcome.Taken, pieces[piece % pieces.size()]);
      while (!offered.empty() && reader.State() != TState::Complete) {
        const std::size_t taken = reader.Feed(offered);
        const std::size_t lineEnd = offered.find('\n');
        FUZZ_CHECK(taken == (lineEnd == std::string_view::npos ? offered.size() : lineEnd + 1));
        offered.remove_prefix(taken);
        outcome.Taken += taken;
      }
    }
    if (reader.State() == TState::Complete) FUZZ_CHECK(reader.Feed("GET / HTTP/1.1\r\n") == 0);
  } catch (const EIdReadLnMaxLineLengthExceeded&) {
    return TOutcome{.Refused = true};  // which limit a refusal names may depend on the pieces
  } catch (const EIdHTTPHeadTooLarge&) {
    return TOutcome{.Refused = true};
  }
  outcome.State = reader.State();
  outcome.RequestLine = reader.RequestLine();
  outcome.HeaderLines = reader.HeaderLines();
  return outcome;
}

// The lines of bytes as sent: split at LF, the CR before an LF dropped unless keepCR.
std::vector<std::string> SentLines(std::string_view bytes, bool keepCR = false) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n', start)) {
    std::string line(bytes.substr(start, end - start));
    if (!keepCR && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// A head read to its end holds the lines sent, within the limits; a refused one broke one.
void CheckOutcome(std::string_view bytes, const TIdHTTPHeadLimits& limits, const TOutcome& outcome) {
  const std::vector<std::string> sent = SentLines(bytes.substr(0, outcome.Taken));
  if (outcome.Refused) {
    const std::vector<std::string> all = SentLines(bytes);
    const std::vector<std::string> raw = SentLines(bytes, true);  // the limit counts a line's CR
    const bool longLine = std::any_of(raw.begin(), raw.end(), [&](const std::string& line) {
      return line.size() > limits.MaxLineLength;
    });
    const std::size_t lastLine = bytes.size() - (bytes.rfind('\n') + 1);  // not yet ended
    FUZZ_CHECK(longLine || lastLine > limits.MaxLineLength || all.size() > limits.MaxHeaderLines + 1 ||
               bytes.size() > limits.MaxHeadSize);
    return;
  }
  FUZZ_CHECK(outcome.Taken <= limits.MaxHeadSize);
  FUZZ_CHECK(outcome.HeaderLines.size() <= limits.MaxHeaderLines);
  if (outcome.State == TState::RequestLine) {
    FUZZ_CHECK(sent.empty() && outcome.Taken == bytes.size());
    return;
  }
  FUZZ_CHECK(!sent.empty() && outcome.RequestLine == sent[0] && sent[0].size() <= limits.MaxLineLength);
  const bool complete = outcome.State == TState::Complete;
  FUZZ_CHECK(complete ? sent.back().empty() : outcome.Taken == bytes.size());
  FUZZ_CHECK(sent.size() == 1 + outcome.HeaderLines.size() + (complete ? 1 : 0));
  for (std::size_t i = 0; i < outcome.HeaderLines.size(); ++i) {
    const std::string& line = sent[i + 1];
    FUZZ_CHECK(!line.empty() && line.size() <= limits.MaxLineLength);
    FUZZ_CHECK(outcome.HeaderLines[i] == (line.starts_with("..") ? line.substr(1) : line));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TIdHTTPHeadLimits limits;
  if (input.ConsumeBool()) {
    limits.MaxLineLength = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    limits.MaxHeaderLines = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    limits.MaxHeadSize = input.ConsumeIntegralInRange<std::size_t>(0, 512);
  }
  std::vector<std::size_t> pieces;
  for (std::uint8_t piece : input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(1, 8)))
    pieces.push_back(std::size_t{piece} + 1);
  if (pieces.empty()) pieces.push_back(1);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  const TOutcome whole = Read(bytes, limits, {bytes.size()});
  CheckOutcome(bytes, limits, whole);
  FUZZ_CHECK(Read(bytes, limits, pieces) == whole);
  FUZZ_CHECK(Read(bytes, limits, {1}) == whole);
  return 0;
}
