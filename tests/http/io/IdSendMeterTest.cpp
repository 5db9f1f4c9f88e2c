// The rule that ends an answer whose client reads too little, on a clock the tests move.

#include "http/io/IdSendMeter.h"

#include <gtest/gtest.h>

namespace {

using TClock = TIdSendMeter::TClock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::int64_t kKiB = 1024;

class TIdSendMeterTest : public testing::Test {
protected:
  TIdSendMeterTest() { Meter.SetLimits(60000, 16 * kKiB); }

  TClock::time_point At(milliseconds offset) const { return FStart + offset; }
  // The deadline as seen at offset, as an offset.
  milliseconds DeadlineAt(milliseconds offset) {
    return std::chrono::duration_cast<milliseconds>(Meter.Deadline(At(offset)) - FStart);
  }
  milliseconds Tolerance() const { return std::chrono::ceil<milliseconds>(Meter.Tolerance()); }

  TIdSendMeter Meter;

private:
  TClock::time_point FStart = TClock::now();
};

TEST_F(TIdSendMeterTest, AnAnswerThatMovesNothingHasOneWindow) {
  EXPECT_EQ(DeadlineAt(milliseconds(0)), seconds(60));
  EXPECT_EQ(DeadlineAt(seconds(30)), seconds(60));
}

TEST_F(TIdSendMeterTest, ABurstThenNothingEndsOneWindowAfterTheBurst) {
  EXPECT_EQ(DeadlineAt(milliseconds(0)), seconds(60));
  Meter.Moved(4 << 20, At(seconds(1)));  // the socket's buffers fill at once
  const milliseconds deadline = DeadlineAt(seconds(2));
  EXPECT_GE(deadline, seconds(61));
  EXPECT_LE(deadline, seconds(61) + Tolerance());
}

// The reader that kept an answer alive for days: 4 KiB every 50 s moved something within every
// send call's timeout, yet far less than the rule asks for in any window.
TEST_F(TIdSendMeterTest, ATrickledReadIsEndedWithinAWindowOfItsLastBurst) {
  DeadlineAt(milliseconds(0));
  Meter.Moved(4 << 20, At(milliseconds(10)));
  for (int read = 1; read <= 3; ++read) {
    const milliseconds now = seconds(50 * read);
    if (DeadlineAt(now) <= now) {
      EXPECT_LE(now, seconds(100)) << "ended only at the read at " << now.count() << " ms";
      return;
    }
    Meter.Moved(4 * kKiB, At(now));
  }
  ADD_FAILURE() << "never ended";
}

// Readers at or above the rate, read in many small pieces, are never ended, however long the
// answer lasts; one just below it is.
TEST_F(TIdSendMeterTest, OnlyARateBelowTheRuleIsEnded) {
  struct RateCase {
    std::int64_t bytes;
    milliseconds every;
    bool ended;
  };
  const RateCase cases[] = {
      {10 * kKiB, seconds(1), false},        // a phone at its worst
      {300, seconds(1), false},              // 17.6 KiB a minute
      {16 * kKiB, seconds(59), false},       // exactly one rule's worth, a little early each time
      {260, seconds(1), true},               // 15.2 KiB a minute
      {4 * kKiB, seconds(20), true},         // 12 KiB a minute
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " bytes every " << c.every.count() << " ms");
    TIdSendMeter meter;
    meter.SetLimits(60000, 16 * kKiB);
    const TClock::time_point start = TClock::now();
    meter.Deadline(start);
    bool ended = false;
    for (milliseconds now = c.every; now <= seconds(600) && !ended; now += c.every) {
      ended = meter.Deadline(start + now) <= start + now;
      meter.Moved(c.bytes, start + now);
    }
    EXPECT_EQ(ended, c.ended);
  }
}

TEST_F(TIdSendMeterTest, EachAnswerHasAWindowOfItsOwn) {
  DeadlineAt(milliseconds(0));
  Meter.Moved(100, At(seconds(1)));
  // The pause between two answers of one connection is not held against the next one.
  Meter.Restart();
  EXPECT_EQ(DeadlineAt(seconds(300)), seconds(360));
}

// A zip of a 5 GiB file on a cold disk reads the file for its checksum for over a minute between
// two writes, with nothing to send: that used to end the answer the moment it could go on.
TEST_F(TIdSendMeterTest, OnlyTheTimeWithinWritesIsHeldAgainstTheClient) {
  DeadlineAt(milliseconds(0));
  Meter.WriteBegins(At(milliseconds(0)));
  Meter.Moved(4 << 20, At(seconds(1)));
  Meter.WriteEnds(At(seconds(1)));
  Meter.WriteBegins(At(seconds(121)));  // two minutes of the server's own work
  const milliseconds deadline = DeadlineAt(seconds(121));
  EXPECT_GE(deadline, seconds(181));
  EXPECT_LE(deadline, seconds(181) + Tolerance());
  // A client that reads nothing while the server waits within a write is still ended.
  EXPECT_LE(DeadlineAt(seconds(190)), seconds(190));
  // The next answer starts afresh.
  Meter.WriteEnds(At(seconds(190)));
  Meter.Restart();
  EXPECT_EQ(DeadlineAt(seconds(300)), seconds(360));
}

TEST_F(TIdSendMeterTest, WithoutAMinimumAnyByteKeepsTheAnswerGoing) {
  Meter.SetLimits(1000, 0);
  DeadlineAt(milliseconds(0));
  Meter.Moved(1, At(milliseconds(900)));
  EXPECT_GE(DeadlineAt(milliseconds(950)), milliseconds(1900));
  EXPECT_FALSE(TIdSendMeter().Limited());
}

}  // namespace
