#include "http/protocol/IdServerCookies.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>> Pairs(const TIdServerCookies& cookies) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < cookies.Count(); ++i) pairs.emplace_back(cookies[i].CookieName, cookies[i].Value);
  return pairs;
}

TEST(TIdServerCookies, SplitsACookieHeaderValue) {
  TIdServerCookies cookies;
  cookies.AddSrcCookie("a=1; b=x=y;c");
  cookies.AddSrcCookie("d=4;  ");
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(Pairs(cookies), (std::vector<P>{{"a", "1"}, {"b", "x=y"}, {"c", ""}, {"d", "4"}}));
  EXPECT_EQ(cookies.GetCookieIndex("B"), 1);
  EXPECT_EQ(cookies.GetCookieIndex("a", 1), -1);
}

// Regression: each cookie cut the rest of the value off its front and trimmed a copy of it.
TEST(TIdServerCookies, SplitsAMegabyteOfSeparatorsInOnePass) {
  TIdServerCookies cookies;
  cookies.AddSrcCookie(std::string(1 << 20, ';') + "last=1");
  ASSERT_EQ(cookies.Count(), (1 << 20) + 1);
  EXPECT_EQ(cookies[1 << 20].CookieName, "last");
  EXPECT_EQ(cookies[1 << 20].Value, "1");
}

TEST(TIdServerCookies, WritesTheSetAttributesOnly) {
  TIdServerCookies cookies;
  TIdCookieRC& cookie = cookies.AddCookie("IDHTTPSESSIONID", "abc");
  EXPECT_EQ(cookie.ServerCookie(), "IDHTTPSESSIONID=abc");
  cookie.Path = "/";
  cookie.Secure = true;
  EXPECT_EQ(cookie.ServerCookie(), "IDHTTPSESSIONID=abc; path=/; secure");
}

}  // namespace
