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
