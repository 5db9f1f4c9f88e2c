#include "http/protocol/IdHTTPRequestInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParamsCase {
  const char* text;
  std::vector<std::string> params;
};
const ParamsCase kParams[] = {
    {"a=1&b=%41+c", {"a=1", "b=A c"}},
    {"a=1&", {"a=1", ""}},       // a trailing "&" adds an empty entry
    {"a&&b", {"a", "", "b"}},
    {"&", {"", ""}},
    {"x%3Dy=%26", {"x=y=&"}},    // each entry is decoded whole
    {"", {}},
};

TEST(TIdHTTPRequestInfo, DecodesParameters) {
  TIdHTTPRequestInfo request;
  request.Params = {"old"};
  for (const ParamsCase& c : kParams) {
    SCOPED_TRACE(c.text);
    request.DecodeParams(c.text);
    EXPECT_EQ(request.Params, c.params);
  }
}

// Regression: each entry cut the rest of the text off its front, so 800 KB of "&" took seconds.
TEST(TIdHTTPRequestInfo, DecodesAMegabyteOfSeparatorsInOnePass) {
  TIdHTTPRequestInfo request;
  request.DecodeParams(std::string(1 << 20, '&'));
  EXPECT_EQ(request.Params.size(), (1u << 20) + 1);
}

TEST(TIdHTTPRequestInfo, StartsEmptyWithNoLength) {
  const TIdHTTPRequestInfo request;
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_FALSE(request.ContentLengthKnown());
  EXPECT_EQ(request.HeaderLines.FoldWidth, 1024);
  EXPECT_EQ(request.Cookies.Count(), 0);
  EXPECT_EQ(request.PostStream, nullptr);
  EXPECT_EQ(request.Session, nullptr);
}

}  // namespace
