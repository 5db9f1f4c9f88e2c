#include "app/HeadlessOptions.h"

#include <gtest/gtest.h>

#include "AppTestSupport.h"

namespace {

THeadlessOptions Parse(const std::vector<std::string>& args) {
  THeadlessOptions options;
  std::string error;
  EXPECT_TRUE(ParseHeadlessOptions(args, options, error)) << error;
  return options;
}

TEST(HeadlessOptions, DefaultsAreTheWindowsDefaults) {
  const THeadlessOptions options = Parse({"/srv/share"});
  EXPECT_EQ(options.Port, 0);  // none given: the default port applies
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
  EXPECT_TRUE(Parse({"--keep-alive", "r"}).KeepAlive);
  EXPECT_FALSE(Parse({"r"}).KeepAlive);
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_TRUE(Parse({"-h"}).Help);
  EXPECT_TRUE(Parse({"--version"}).Version);
  EXPECT_EQ(Parse({"--port", "1", "r"}).Port, 1);
  EXPECT_EQ(Parse({"--port", "65535", "r"}).Port, 65535);
  EXPECT_FALSE(Parse({"r"}).Tls);
  EXPECT_TRUE(Parse({"--tls", "r"}).Tls);
  // The operator's own certificate means HTTPS without saying so twice.
  const THeadlessOptions own = Parse({"--tls-cert=chain.pem", "--tls-key", "key.pem", "r"});
  EXPECT_TRUE(own.Tls);
  EXPECT_EQ(own.TlsCert, "chain.pem");
  EXPECT_EQ(own.TlsKey, "key.pem");
}

// Options and the root in any order, values after "=", and "--" before a root that looks like
// an option.
TEST(HeadlessOptions, TakesOptionsAnywhere) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--headless", "--port", "8080", "--include-hidden", "/srv"},
           {"/srv", "--include-hidden", "--port", "8080", "--headless"},
           {"--include-hidden", "/srv", "--headless", "--port=8080"},
       }) {
    SCOPED_TRACE(args.front() + " " + args.back());
    const THeadlessOptions options = Parse(args);
    EXPECT_EQ(options.Root, "/srv");
    EXPECT_EQ(options.Port, 8080);
    EXPECT_TRUE(options.IncludeHidden);
  }
  EXPECT_EQ(Parse({"--user=ann=b", "r"}).UserName, "ann=b");  // only the first "=" divides
  EXPECT_EQ(Parse({"--password=", "r"}).Password, "");
  EXPECT_EQ(Parse({"--port", "8080", "--", "--weird"}).Root, "--weird");
  EXPECT_EQ(Parse({"-"}).Root, "-");
}

// Every error names what was wrong, in Japanese first, with the English beside it.
TEST(HeadlessOptions, RefusesBadCommandLinesInBothLanguages) {
  struct TCase {
    std::vector<std::string> Args;
    const char* English;
  };
  const TCase cases[] = {
      {{"--port", "0", "r"}, "bad port: 0 (1 to 65535)"},
      {{"--port", "65536", "r"}, "bad port: 65536"},
      {{"--port", "80x", "r"}, "bad port: 80x"},
      {{"--port", "", "r"}, "bad port: "},
      {{"--port=-1", "r"}, "bad port: -1"},
      {{"r", "--port"}, "--port needs a value"},
      {{"--access-log", "", "r"}, "--access-log needs a file name, or - for standard output"},
      {{"r", "--access-log"}, "--access-log needs a value"},
      {{"--user"}, "--user needs a value"},
      {{"--frobnicate", "r"}, "unknown option: --frobnicate"},
      {{"--include-hidden=yes", "r"}, "--include-hidden takes no value"},
      {{"r", "s"}, "only one root folder: s"},
      {{"r", "--", "s"}, "only one root folder: s"},
      {{"--password", "a", "--password-file", "f", "r"}, "--password and --password-file exclude each other"},
      {{"--tls-cert", "c.pem", "r"}, "--tls-cert and --tls-key go together"},
      {{"--tls", "--tls-key", "k.pem", "r"}, "--tls-cert and --tls-key go together"},
  };
  for (const TCase& c : cases) {
    THeadlessOptions options;
    std::string error;
    SCOPED_TRACE(c.English);
    EXPECT_FALSE(ParseHeadlessOptions(c.Args, options, error));
    const std::size_t divide = error.find(" / ");
    ASSERT_NE(divide, std::string::npos) << error;
    EXPECT_FALSE(IsAscii(error.substr(0, divide))) << error;
    const std::string english = error.substr(divide + 3);
    EXPECT_TRUE(IsAscii(english)) << error;
    EXPECT_EQ(0u, english.find(c.English)) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(HeadlessOptions, RunModeFollowsHeadlessOrAnInformationOptionAnywhere) {
  struct TCase {
    std::vector<std::string> Args;
    TRunMode Mode;
  };
  const TCase cases[] = {
      {{}, TRunMode::Window},
      {{"/srv"}, TRunMode::Window},
      {{"--headless", "/srv"}, TRunMode::Headless},
      {{"/srv", "--port", "8080", "--headless"}, TRunMode::Headless},
      {{"--help", "--headless"}, TRunMode::Headless},  // answered by the headless runner all the same
      {{"/srv", "--version"}, TRunMode::Information},
      {{"-h"}, TRunMode::Information},
      {{"--", "--headless"}, TRunMode::Window},  // a folder of that name
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args.empty() ? "" : c.Args.front());
    EXPECT_EQ(c.Mode, RunModeOf(c.Args));
  }
}

}  // namespace
