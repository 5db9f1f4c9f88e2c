#include "http/protocol/IdHTTPRequestReader.h"

#include <gtest/gtest.h>

#include "http/net/IdException.h"

namespace {

using TState = TIdHTTPRequestReader::TState;

// Feeds bytes in pieces of at most step bytes until the head is complete or the bytes run out;
// returns the bytes taken.
std::size_t FeedInSteps(TIdHTTPRequestReader& reader, std::string_view bytes, std::size_t step) {
  std::size_t taken = 0;
  while (taken < bytes.size() && reader.State() != TState::Complete) {
    taken += reader.Feed(bytes.substr(taken, std::min(step, bytes.size() - taken)));
  }
  return taken;
}

std::string HeadOfLines(std::size_t headerLines, std::size_t lineLength) {
  std::string head = "GET / HTTP/1.1\r\n";
  for (std::size_t i = 0; i < headerLines; ++i) head += "X: " + std::string(lineLength - 3, 'a') + "\r\n";
  return head + "\r\n";
}

// Reading a head

TEST(TIdHTTPRequestReader, ReadsTheHeadAndLeavesWhatFollowsIt) {
  const std::string head = "POST /a HTTP/1.1\r\nHost: x\nContent-Length: 3\r\n\r\n";
  for (std::size_t step : {std::size_t{1}, std::size_t{2}, std::size_t{7}, head.size() + 3}) {
    SCOPED_TRACE(step);
    TIdHTTPRequestReader reader;
    EXPECT_EQ(FeedInSteps(reader, head + "abc", step), head.size());
    EXPECT_EQ(reader.State(), TState::Complete);
    EXPECT_EQ(reader.RequestLine(), "POST /a HTTP/1.1");
    EXPECT_EQ(reader.HeaderLines(), (std::vector<std::string>{"Host: x", "Content-Length: 3"}));
    EXPECT_EQ(reader.Feed("abc"), 0u);
  }
}

TEST(TIdHTTPRequestReader, TellsWhenTheRequestLineIsComplete) {
  TIdHTTPRequestReader reader;
  EXPECT_EQ(reader.Feed("GET / HT"), 8u);
  EXPECT_EQ(reader.State(), TState::RequestLine);
  EXPECT_EQ(reader.Feed("TP/1.0\r\nHost: a\r\n"), 8u);
  EXPECT_EQ(reader.State(), TState::HeaderLines);
  EXPECT_EQ(reader.RequestLine(), "GET / HTTP/1.0");
}

TEST(TIdHTTPRequestReader, KeepsLoneCarriageReturnsAndUnstuffsDots) {
  TIdHTTPRequestReader reader;
  FeedInSteps(reader, "GET /\r HTTP/1.1\r\n..X: a\r\n.Y: b\r\n\r\n", 64);
  EXPECT_EQ(reader.RequestLine(), "GET /\r HTTP/1.1");
  EXPECT_EQ(reader.HeaderLines(), (std::vector<std::string>{".X: a", ".Y: b"}));
}

TEST(TIdHTTPRequestReader, AnEmptyFirstLineIsTheRequestLine) {
  TIdHTTPRequestReader reader;
  FeedInSteps(reader, "\r\n\r\n", 64);
  EXPECT_EQ(reader.State(), TState::Complete);
  EXPECT_EQ(reader.RequestLine(), "");
}

// Limits, at the edge and one past it

TEST(TIdHTTPRequestReader, RefusesALineLongerThanTheLimitBeforeItEnds) {
  const TIdHTTPHeadLimits limits{10, 100, 1 << 20};
  TIdHTTPRequestReader over(limits);
  // No line end ever comes: the reader must not wait for one to refuse.
  EXPECT_THROW(FeedInSteps(over, std::string(11, 'a'), 3), EIdReadLnMaxLineLengthExceeded);
}

// The CR of a line end counts toward the limit, as the connection's ReadLine counts it: a line
// of the limit's length plus CR used to be taken.
TEST(TIdHTTPRequestReader, CountsTheCarriageReturnTowardTheLineLimit) {
  const TIdHTTPHeadLimits real;
  const std::size_t limit = real.MaxLineLength;
  struct LineCase {
    std::string line;
    bool refused;
  };
  const LineCase cases[] = {
      {std::string(limit, 'a') + "\n", false},
      {std::string(limit - 1, 'a') + "\r\n", false},
      {std::string(limit, 'a') + "\r\n", true},
      {std::string(limit + 1, 'a') + "\n", true},
  };
  for (const LineCase& c : cases) {
    for (const std::size_t step : {std::size_t{1} << 20, limit, std::size_t{7}}) {
      SCOPED_TRACE(testing::Message() << c.line.size() << " bytes in steps of " << step);
      TIdHTTPRequestReader reader(real);
      if (c.refused) {
        EXPECT_THROW(FeedInSteps(reader, c.line, step), EIdReadLnMaxLineLengthExceeded);
      } else {
        EXPECT_EQ(FeedInSteps(reader, c.line, step), c.line.size());
        EXPECT_EQ(reader.State(), TState::HeaderLines);
      }
    }
  }
}

TEST(TIdHTTPRequestReader, RefusesMoreHeaderLinesThanTheLimit) {
  TIdHTTPRequestReader exact;
  FeedInSteps(exact, HeadOfLines(100, 8), 4096);
  EXPECT_EQ(exact.State(), TState::Complete);
  TIdHTTPRequestReader over;
  EXPECT_THROW(FeedInSteps(over, HeadOfLines(101, 8), 4096), EIdHTTPHeadTooLarge);
}

TEST(TIdHTTPRequestReader, RefusesAHeadLongerThanTheLimit) {
  const std::string head = HeadOfLines(4, 1000);
  TIdHTTPRequestReader exact({16384, 100, head.size()});
  EXPECT_EQ(FeedInSteps(exact, head, 100), head.size());
  EXPECT_EQ(exact.State(), TState::Complete);
  TIdHTTPRequestReader over({16384, 100, head.size() - 1});
  EXPECT_THROW(FeedInSteps(over, head, 100), EIdHTTPHeadTooLarge);
}

}  // namespace
