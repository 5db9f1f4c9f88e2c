#include "app/HeadlessOptions.h"

#include <gtest/gtest.h>

namespace {

THeadlessOptions Parse(const std::vector<std::string>& args) {
  THeadlessOptions options;
  std::string error;
  EXPECT_TRUE(ParseHeadlessOptions(args, options, error)) << error;
  return options;
}

TEST(HeadlessOptions, DefaultsAreTheWindowsDefaults) {
  const THeadlessOptions options = Parse({"/srv/share"});
  EXPECT_EQ(options.Port, 80);
  EXPECT_EQ(options.Root, "/srv/share");
  EXPECT_FALSE(options.ExcludeReadOnly);
  EXPECT_FALSE(options.IncludeHidden);
  EXPECT_FALSE(options.IncludeSystem);
  EXPECT_FALSE(options.ExtensionFilter);
  EXPECT_TRUE(options.UserName.empty());
  EXPECT_TRUE(options.Password.empty());
  EXPECT_FALSE(options.Help);
}

TEST(HeadlessOptions, ReadsEveryOption) {
  const THeadlessOptions options =
      Parse({"--port", "8080", "--user", "ann", "--password", "p:w d", "--exclude-readonly", "--include-hidden",
             "--include-system", "--ext", ".txt", "root"});
  EXPECT_EQ(options.Port, 8080);
  EXPECT_EQ(options.UserName, "ann");
  EXPECT_EQ(options.Password, "p:w d");
  EXPECT_TRUE(options.ExcludeReadOnly);
  EXPECT_TRUE(options.IncludeHidden);
  EXPECT_TRUE(options.IncludeSystem);
  EXPECT_TRUE(options.ExtensionFilter);
  EXPECT_EQ(options.Extension, "txt");  // a leading dot is forgiven
  EXPECT_EQ(options.Root, "root");
  EXPECT_EQ(Parse({"--password-file", "/run/pw", "r"}).PasswordFile, "/run/pw");
  EXPECT_EQ(Parse({"--access-log", "/var/log/velmora.log", "r"}).AccessLog, "/var/log/velmora.log");
  EXPECT_EQ(Parse({"r", "--access-log", "-"}).AccessLog, "-");  // standard output, not a root
  EXPECT_EQ(Parse({"r"}).AccessLog, "");
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_TRUE(Parse({"--version"}).Version);
  EXPECT_EQ(Parse({"--port", "1", "r"}).Port, 1);
  EXPECT_EQ(Parse({"--port", "65535", "r"}).Port, 65535);
}

TEST(HeadlessOptions, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "0", "r"},     {"--port", "65536", "r"}, {"--port", "80x", "r"}, {"--port", "", "r"},
      {"--port", "-1", "r"},    {"--port"},               {"--user"},             {"--frobnicate", "r"},
      {"r", "s"},               {"--password", "a", "--password-file", "f", "r"},
      {"--access-log", "", "r"}, {"r", "--access-log"},
  };
  for (const auto& args : bad) {
    THeadlessOptions options;
    std::string error;
    SCOPED_TRACE(args.front());
    EXPECT_FALSE(ParseHeadlessOptions(args, options, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
