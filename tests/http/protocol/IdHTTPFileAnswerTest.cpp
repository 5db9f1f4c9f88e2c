#include "http/protocol/IdHTTPFileAnswer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "http/protocol/IdGlobal.h"
#include "platform/CodePage.h"
#include "support/ScopedTimeZone.h"

namespace {

constexpr std::int64_t kFourGiB = 4294967296LL;

// Ranges of a file of 1000 bytes unless the row says otherwise
struct RangeCase {
  const char* value;
  std::int64_t size;
  TIdByteRange::TKind kind;
  std::int64_t first, last;
};
const RangeCase kRanges[] = {
    {"bytes=0-99", 1000, TIdByteRange::rkPart, 0, 99},
    {"bytes=500-", 1000, TIdByteRange::rkPart, 500, 999},
    {"bytes=-500", 1000, TIdByteRange::rkPart, 500, 999},
    {"bytes=0-0", 1000, TIdByteRange::rkPart, 0, 0},
    {"bytes=999-999", 1000, TIdByteRange::rkPart, 999, 999},
    {"bytes=900-5000", 1000, TIdByteRange::rkPart, 900, 999},        // an end past the file is clamped
    {"bytes=-5000", 1000, TIdByteRange::rkPart, 0, 999},             // a suffix longer than the file
    {"Bytes = 1 - 2 ", 1000, TIdByteRange::rkPart, 1, 2},            // unit in any case, blanks
    {"bytes=0-99999999999999999999999", 1000, TIdByteRange::rkPart, 0, 999},  // past 64 bits
    {"bytes=4294967290-4294967301", kFourGiB + 10, TIdByteRange::rkPart, 4294967290LL, 4294967301LL},
    {"bytes=-0", 1000, TIdByteRange::rkUnsatisfiable, 0, -1},
    {"bytes=1000-", 1000, TIdByteRange::rkUnsatisfiable, 0, -1},
    {"bytes=1000-1001", 1000, TIdByteRange::rkUnsatisfiable, 0, -1},
    {"bytes=99999999999999999999999-", 1000, TIdByteRange::rkUnsatisfiable, 0, -1},
    {"bytes=0-", 0, TIdByteRange::rkUnsatisfiable, 0, -1},           // nothing of an empty file
    {"bytes=-1", 0, TIdByteRange::rkUnsatisfiable, 0, -1},
    {"", 1000, TIdByteRange::rkWhole, 0, -1},
    {"bytes=0-1,5-6", 1000, TIdByteRange::rkWhole, 0, -1},           // several ranges
    {"bytes=5-1", 1000, TIdByteRange::rkWhole, 0, -1},               // end before start
    {"items=0-1", 1000, TIdByteRange::rkWhole, 0, -1},
    {"bytes=-", 1000, TIdByteRange::rkWhole, 0, -1},
    {"bytes=+1-2", 1000, TIdByteRange::rkWhole, 0, -1},
    {"bytes=1-x", 1000, TIdByteRange::rkWhole, 0, -1},
    {"bytes 0-1", 1000, TIdByteRange::rkWhole, 0, -1},
};

TEST(ParseByteRange, OneRangeIsAPartOrUnsatisfiableAndAnythingElseTheWholeFile) {
  for (const RangeCase& c : kRanges) {
    SCOPED_TRACE(c.value);
    const TIdByteRange range = ParseByteRange(c.value, c.size);
    EXPECT_EQ(range.Kind, c.kind);
    if (c.kind == TIdByteRange::rkPart) {
      EXPECT_EQ(range.First, c.first);
      EXPECT_EQ(range.Last, c.last);
    }
  }
}

// Conditions, at UTC+9, for a file last written 2004-06-19 13:22:17 UTC
class PlanFileAnswerTest : public ::testing::Test {
protected:
  static constexpr std::time_t kWritten = 1087651337;
  TScopedTimeZone Zone{"JST-9"};

  TIdFileAnswer Plan(const std::string& headers, const char* command = "GET", std::string_view tag = {}) {
    TIdHTTPRequestInfo request;
    request.Command = command;
    request.HeaderLines.SetText(headers);
    return PlanFileAnswer(request, 1000, platform::UtcDateTime(kWritten), tag);
  }
};

TEST_F(PlanFileAnswerTest, LastModifiedIsTheMomentInGmt) {
  EXPECT_EQ(InternetDateText(LastModifiedOf(kWritten)), "Sat, 19 Jun 2004 13:22:17 GMT");
}

TEST_F(PlanFileAnswerTest, ConditionsCompareMomentsWhateverTheServersZone) {
  for (const char* zone : {"JST-9", "EST5EDT,M3.2.0,M11.1.0", "UTC0", "IST-5:30"}) {
    SCOPED_TRACE(zone);
    Zone.Use(zone);
    EXPECT_EQ(Plan("If-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT").StatusCode, 304);
    EXPECT_EQ(Plan("If-Modified-Since: Sat, 19 Jun 2004 13:22:16 GMT").StatusCode, 200);
    EXPECT_EQ(Plan("If-Modified-Since: " + InternetDateText(LastModifiedOf(kWritten))).StatusCode, 304);
    EXPECT_EQ(Plan("Range: bytes=1-2\r\nIf-Range: Sat, 19 Jun 2004 13:22:17 GMT").StatusCode, 206);
    EXPECT_EQ(Plan("Range: bytes=1-2\r\nIf-Range: Sat, 19 Jun 2004 22:22:17 GMT").StatusCode, 200);
  }
}

TEST_F(PlanFileAnswerTest, IfModifiedSinceInEveryDateFormAtOrAfterTheFileGets304) {
  const char* const unchanged[] = {
      "If-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT",      // RFC 1123
      "If-Modified-Since: Saturday, 19-Jun-04 13:22:17 GMT",   // RFC 850
      "If-Modified-Since: Sat Jun 19 13:22:17 2004",           // asctime
      "If-Modified-Since: Sat, 19 Jun 2004 22:22:17 +0900",    // with a numeric zone
      "If-Modified-Since: Sat, 19 Jun 2004 13:22:18 GMT",      // later
  };
  for (const char* header : unchanged) {
    SCOPED_TRACE(header);
    EXPECT_EQ(Plan(header).StatusCode, 304);
    EXPECT_EQ(Plan(header, "HEAD").StatusCode, 304);
    EXPECT_EQ(Plan(header, "POST").StatusCode, 200);  // only GET and HEAD are conditional
  }
  for (const char* header : {"If-Modified-Since: Sat, 19 Jun 2004 13:22:16 GMT", "If-Modified-Since: yesterday",
                             "If-Modified-Since: Sat, 31 Feb 2004 13:22:17 GMT", "If-Modified-Since:"}) {
    SCOPED_TRACE(header);
    const TIdFileAnswer answer = Plan(header);
    EXPECT_EQ(answer.StatusCode, 200);
    EXPECT_EQ(answer.Count, 1000);
  }
}

TEST_F(PlanFileAnswerTest, RangesKeptOnlyWhileIfRangeNamesTheFilesDate) {
  const TIdFileAnswer part = Plan("Range: bytes=10-19");
  EXPECT_EQ(part.StatusCode, 206);
  EXPECT_EQ(part.Offset, 10);
  EXPECT_EQ(part.Count, 10);
  EXPECT_EQ(Plan("Range: bytes=10-19", "HEAD").StatusCode, 206);
  EXPECT_EQ(Plan("Range: bytes=10-19", "POST").StatusCode, 200);
  EXPECT_EQ(Plan("Range: bytes=2000-").StatusCode, 416);
  EXPECT_EQ(Plan("Range: bytes=10-19\r\nIf-Range: Sat, 19 Jun 2004 13:22:17 GMT").StatusCode, 206);
  for (const char* ifRange : {"Sat, 19 Jun 2004 13:22:16 GMT",  // older: the file changed since
                              "Sat, 19 Jun 2004 13:22:18 GMT", "\"an-entity-tag\"", "garbage"}) {
    SCOPED_TRACE(ifRange);
    const TIdFileAnswer whole = Plan(std::string("Range: bytes=10-19\r\nIf-Range: ") + ifRange);
    EXPECT_EQ(whole.StatusCode, 200);
    EXPECT_EQ(whole.Offset, 0);
    EXPECT_EQ(whole.Count, 1000);
  }
  // A copy that is still good needs no part of the file.
  EXPECT_EQ(Plan("Range: bytes=10-19\r\nIf-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT").StatusCode, 304);
}

TEST(LastModifiedOf, NamesTheMomentInEveryZoneAndSeason) {
  // Regression guard: the file's own local offset would be off by an hour once daylight time
  // changed between the write and the answer; the offset of now is what the line states.
  for (const char* zone : {"UTC0", "JST-9", "EST5EDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
    SCOPED_TRACE(zone);
    TScopedTimeZone scoped(zone);
    for (const std::time_t moment : {std::time_t{1087651337}, std::time_t{1104537600}, std::time_t{-2208988800},
                                   std::time_t{-3786802200}}) {
      char gmt[64];
      std::tm utc{};
      gmtime_r(&moment, &utc);
      std::strftime(gmt, sizeof gmt, "%a, %d %b %Y %H:%M:%S GMT", &utc);
      EXPECT_EQ(platform::DateTimeToSeconds(LastModifiedOf(moment)),
                platform::DateTimeToSeconds(HeaderDateToLocal(gmt)))
          << gmt;
      EXPECT_EQ(platform::DateTimeToSeconds(HeaderDateToLocal(InternetDateText(LastModifiedOf(moment)))),
                platform::DateTimeToSeconds(LastModifiedOf(moment)));
    }
  }
}

// How a file answer names its file
TEST(ContentDispositionOf, PlainNameForEveryClientAndTheRealNameAsUtf8) {
  EXPECT_EQ(ContentDispositionOf("notes.txt"), "inline; filename=\"notes.txt\"; filename*=UTF-8''notes.txt");
  // curl -OJ reads only the plain name: "#" and the blank stay in it, encoded only in filename*.
  EXPECT_EQ(ContentDispositionOf("C# notes.txt"),
            "inline; filename=\"C# notes.txt\"; filename*=UTF-8''C#%20notes.txt");
  // One "_" a character, whatever its length in bytes.
  EXPECT_EQ(ContentDispositionOf("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"),
            "inline; filename=\"___.txt\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC%E8%AA%9E.txt");
  // Nothing that could end the quoted name early or be taken for an escape or a folder.
  EXPECT_EQ(ContentDispositionOf("say \"hi\"\\100%;x.txt"),
            "inline; filename=\"say _hi__100_;x.txt\"; filename*=UTF-8''say%20%22hi%22%5C100%25%3Bx.txt");
  EXPECT_EQ(ContentDispositionOf("tab\there'\x7F"), "inline; filename=\"tab_here'_\"; filename*=UTF-8''tab%09here%27%7F");
}

TEST(ContentDispositionOf, NamesOfTheShiftJisCodePageGoOutAsUtf8) {
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  const std::string value = ContentDispositionOf("\x93\xFA\x96\x7B.txt");  // 日本.txt
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  EXPECT_EQ(value, "inline; filename=\"__.txt\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC.txt");
}

// Text that is labelled as UTF-8
TEST(IsUtf8Text, NeedsWellFormedUtf8BeyondAscii) {
  EXPECT_TRUE(IsUtf8Text("caf\xC3\xA9", true));
  EXPECT_TRUE(IsUtf8Text("\xE6\x97\xA5\xE6\x9C\xAC", true));
  EXPECT_FALSE(IsUtf8Text("plain ascii", true));
  EXPECT_FALSE(IsUtf8Text("", true));
  EXPECT_FALSE(IsUtf8Text("caf\xE9", true));           // Latin-1
  EXPECT_FALSE(IsUtf8Text("\x82\xA0\x82\xA2", true));  // Shift-JIS
  // A character cut by the end of the first 4 KiB counts, one cut by the end of the file does not.
  EXPECT_TRUE(IsUtf8Text("\xE6\x97\xA5\xE6\x9C", false));
  EXPECT_TRUE(IsUtf8Text("\xE6\x97\xA5\xF0\x9F\x98", false));
  EXPECT_FALSE(IsUtf8Text("\xE6\x97\xA5\xE6\x9C", true));
  EXPECT_FALSE(IsUtf8Text("\xE6\x97\xA5\x9C", false));  // a stray continuation byte
  // The non-ASCII character is found wherever it lies, in a run of eight bytes or behind the last.
  for (std::size_t at = 0; at <= 16; ++at) {
    SCOPED_TRACE(at);
    std::string text(17, 'a');
    text.replace(at, 1, "\xC3\xA9");
    EXPECT_TRUE(IsUtf8Text(text, true));
    EXPECT_FALSE(IsUtf8Text(std::string(at, 'a'), true));
  }
}

}  // namespace

// An answer with a strong entity tag: the tag decides, exactly and only where it is asked about.
TEST_F(PlanFileAnswerTest, AnEntityTagValidatesLikeTheDate) {
  const std::string_view tag = "\"zip-1-abc\"";
  const auto status = [&](const std::string& headers) { return Plan(headers, "GET", tag).StatusCode; };
  EXPECT_EQ(status("If-None-Match: \"zip-1-abc\""), 304);
  EXPECT_EQ(status("If-None-Match: \"other\", W/\"zip-1-abc\""), 304);
  EXPECT_EQ(status("If-None-Match: *"), 304);
  // The tag outranks a date that alone would say "unchanged".
  EXPECT_EQ(status("If-None-Match: \"other\"\r\nIf-Modified-Since: Fri, 1 Jan 2100 00:00:00 GMT"), 200);
  EXPECT_EQ(status("If-Modified-Since: Fri, 1 Jan 2100 00:00:00 GMT"), 304);

  EXPECT_EQ(status("Range: bytes=10-19\r\nIf-Range: \"zip-1-abc\""), 206);
  EXPECT_EQ(status("Range: bytes=10-19\r\nIf-Range: Sat, 19 Jun 2004 13:22:17 GMT"), 206);
  EXPECT_EQ(status("Range: bytes=10-19\r\nIf-Range: \"zip-2-abc\""), 200);
  EXPECT_EQ(status("Range: bytes=10-19\r\nIf-Range: W/\"zip-1-abc\""), 200);  // weak: other bytes allowed
  EXPECT_EQ(status("Range: bytes=2000-\r\nIf-Range: \"zip-1-abc\""), 416);

  // Without a tag of its own, an answer keeps no range for any tag and ignores If-None-Match.
  EXPECT_EQ(Plan("Range: bytes=10-19\r\nIf-Range: \"zip-1-abc\"").StatusCode, 200);
  EXPECT_EQ(Plan("If-None-Match: *").StatusCode, 200);
}
