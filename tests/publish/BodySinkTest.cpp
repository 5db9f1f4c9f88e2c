#include "publish/BodySink.h"

#include <gtest/gtest.h>

#include <string>

#include "http/net/IdException.h"
#include "http/protocol/IdHTTPResponseInfo.h"

namespace {

std::string Bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

// What stays in memory and what spills: a body of exactly the limit stays, one byte more goes
// to a file, whether it came in one piece or many.
TEST(BodySink, SpillsOnlyPastTheMemoryLimit) {
  TTempSpace space(std::int64_t{1} << 30);
  const std::string limit = Bytes(kBodyMemoryLimit);
  for (const std::size_t piece : {kBodyMemoryLimit, std::size_t{4096}, std::size_t{1000}}) {
    SCOPED_TRACE(piece);
    TBodySink exact(space);
    TBodySink over(space);
    for (std::size_t at = 0; at < limit.size(); at += piece) {
      exact.Append(std::string_view(limit).substr(at, piece));
      over.Append(std::string_view(limit).substr(at, piece));
    }
    over.Append("!");
    EXPECT_FALSE(exact.Spilled());
    EXPECT_TRUE(over.Spilled());
    EXPECT_EQ(exact.Size(), static_cast<std::int64_t>(kBodyMemoryLimit));
    EXPECT_EQ(over.Size(), static_cast<std::int64_t>(kBodyMemoryLimit) + 1);
    EXPECT_EQ(over.Contents(), limit + "!");
    EXPECT_EQ(space.InUse(), static_cast<std::int64_t>(kBodyMemoryLimit) + 1);
  }
  EXPECT_EQ(space.InUse(), 0);
}

// A page built whole moves in as the body; once there is a body, or past the limit, moved bytes
// are appended like any others and spill where they would have.
TEST(BodySink, TakesAMovedPageWholeOnlyAsItsFirstPart) {
  TTempSpace space(1000);
  TBodySink sink(space, 10);
  std::string page = "0123456";
  sink.AppendMoved(std::move(page));
  EXPECT_TRUE(page.empty());
  std::string more = "789";
  sink.AppendMoved(std::move(more));
  EXPECT_FALSE(sink.Spilled());
  std::string last = "A";
  sink.AppendMoved(std::move(last));
  EXPECT_TRUE(sink.Spilled());
  EXPECT_EQ(sink.Contents(), "0123456789A");

  TBodySink large(space, 10);
  large.AppendMoved(Bytes(11));
  EXPECT_TRUE(large.Spilled());
  EXPECT_EQ(large.Contents(), Bytes(11));
}

TEST(BodySink, HandsTheResponseTextOrAFileStream) {
  TTempSpace space(1000);
  TIdHTTPResponseInfo small(nullptr);
  TBodySink inMemory(space, 10);
  inMemory.Append("0123456789");
  inMemory.MoveInto(small);
  EXPECT_EQ(small.BodyText, "0123456789");
  EXPECT_EQ(small.BodyStream(), nullptr);

  TIdHTTPResponseInfo large(nullptr);
  {
    TBodySink spilled(space, 10);
    spilled.Append("0123456789");
    spilled.Append("A");
    spilled.MoveInto(large);
    EXPECT_EQ(spilled.Size(), 0);
  }
  // The response's stream keeps the file and its share of the space after the sink is gone.
  ASSERT_NE(large.BodyStream(), nullptr);
  EXPECT_TRUE(large.BodyText.empty());
  EXPECT_NE(large.BodyStream()->Handle(), -1);
  EXPECT_EQ(large.BodyStream()->Size(), 11);
  std::string read(11, '\0');
  EXPECT_EQ(large.BodyStream()->Read(read.data(), read.size()), 11u);
  EXPECT_EQ(read, "0123456789A");
  EXPECT_EQ(space.InUse(), 11);
  large.ReleaseBodyStream();
  EXPECT_EQ(space.InUse(), 0);
}

// The temporary space is shared: a body that would take it past the bound is refused as busy,
// and what the others hold is given back as they close.
TEST(BodySink, TheTemporarySpaceIsBounded) {
  TTempSpace space(100);
  TBodySink first(space, 0);
  first.Append(Bytes(60));
  first.Contents();  // written out, so charged
  EXPECT_EQ(space.InUse(), 60);
  {
    TBodySink second(space, 0);
    second.Append(Bytes(30));
    second.Contents();
    EXPECT_THROW({
      second.Append(Bytes(20));
      second.Contents();
    }, EIdServerBusy);
    EXPECT_EQ(space.InUse(), 90);
  }
  EXPECT_EQ(space.InUse(), 60);
  TBodySink third(space, 0);
  third.Append(Bytes(40));
  EXPECT_EQ(third.Contents(), Bytes(40));
}

TEST(BodySink, AppendsAnotherSinkWhereverItsBytesAre) {
  TTempSpace space(1 << 20);
  TBodySink part(space, 5);
  const std::string bytes = Bytes(200000);
  part.Append(bytes);
  ASSERT_TRUE(part.Spilled());
  TBodySink whole(space);
  whole.Append("<");
  whole.Append(part);
  whole.Append(">");
  EXPECT_FALSE(whole.Spilled());
  EXPECT_EQ(whole.Contents(), "<" + bytes + ">");
  EXPECT_EQ(part.Contents(), bytes);
}

}  // namespace
