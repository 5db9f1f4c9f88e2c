#include "http/io/IdStream.h"

#include <gtest/gtest.h>

namespace {

TEST(TIdStringStream, WritesOverAndPastTheEnd) {
  TIdStringStream stream("abcdef");
  stream.SetPosition(4);
  stream.Write("XYZ", 3);
  EXPECT_EQ(stream.DataString(), "abcdXYZ");
  EXPECT_EQ(stream.Position(), 7);
}

TEST(TIdStringStream, ReadsToTheEndThenNothing) {
  TIdStringStream stream("hello");
  char buffer[8] = {};
  stream.SetPosition(3);
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 2u);
  EXPECT_EQ(std::string(buffer, 2), "lo");
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
}

TEST(TIdStringStream, SizeAndPositionStayInRange) {
  TIdStringStream stream("hello");
  stream.SetPosition(99);
  EXPECT_EQ(stream.Position(), 5);
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  stream.SetSize(4);
  EXPECT_EQ(stream.DataString(), std::string("he\0\0", 4));
  stream.SetPosition(-3);
  EXPECT_EQ(stream.Position(), 0);
}

}  // namespace
