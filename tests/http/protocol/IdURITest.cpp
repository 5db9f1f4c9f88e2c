#include "http/protocol/IdURI.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SplitCase {
  const char* uri;
  const char *protocol, *username, *password, *host, *port, *path, *document, *params, *bookmark;
};
const SplitCase kSplits[] = {
    {"/dir/sub/file.txt", "", "", "", "", "", "/dir/sub/", "file.txt", "", ""},
    {"/a\\b.txt", "", "", "", "", "", "/a/", "b.txt", "", ""},        // backslash is a slash
    {"/a/x=%41", "", "", "", "", "", "/a/", "x", "=%41", ""},         // "=" ends the document
    {"/a/b=1/c", "", "", "", "", "", "/a/", "b", "=1/c", ""},         // path ends before the "="
    {"/a/b?x=1#top", "", "", "", "", "", "/a/", "b", "?x=1", "top"},
    {"file.txt", "", "", "", "", "", "", "file.txt", "", ""},
    {"/", "", "", "", "", "", "/", "", "", ""},
    {"http://user:pw@host.example:8080/d/e.html?q=1#top", "http", "user", "pw", "host.example", "8080",
     "/d/", "e.html", "?q=1", "top"},
    {"http://host.example", "http", "", "", "host.example", "", "/", "", "", ""},
    {"http://:pw@h/x", "http", "", "", "h", "", "/", "x", "", ""},    // no user: no password
    {"http://u@h/x", "http", "u", "", "h", "", "/", "x", "", ""},
    {"http://h/d/f.txt#b", "http", "", "", "h", "", "/d/", "f.txt", "", "b"},
    {"http://[2001:db8::7]:8080/d/e", "http", "", "", "2001:db8::7", "8080", "/d/", "e", "", ""},  // IPv6 literal
    {"http://[::1]/", "http", "", "", "::1", "", "/", "", "", ""},
    {"", "", "", "", "", "", "", "", "", ""},
};

TEST(TIdURI, SplitsIntoParts) {
  for (const SplitCase& c : kSplits) {
    SCOPED_TRACE(c.uri);
    const TIdURI uri(c.uri);
    EXPECT_EQ(uri.Protocol(), c.protocol);
    EXPECT_EQ(uri.Username(), c.username);
    EXPECT_EQ(uri.Password(), c.password);
    EXPECT_EQ(uri.Host(), c.host);
    EXPECT_EQ(uri.Port(), c.port);
    EXPECT_EQ(uri.Path(), c.path);
    EXPECT_EQ(uri.Document(), c.document);
    EXPECT_EQ(uri.Params(), c.params);
    EXPECT_EQ(uri.Bookmark(), c.bookmark);
  }
}

TEST(TIdURI, LeavesTheTrailByteOfADoubleByteCharacterAlone) {
  // 0x95 0x5C is one Shift-JIS character whose second byte equals a backslash.
  const std::string target = "/\x95\x5C.txt";
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  const TIdURI sjis(target);
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  EXPECT_EQ(sjis.Path(), "/");
  EXPECT_EQ(sjis.Document(), "\x95\x5C.txt");
  const TIdURI bytes(target);
  EXPECT_EQ(bytes.Path(), "/\x95/");
}

struct DecodeCase {
  const char* text;
  std::string decoded;
};
const DecodeCase kDecodes[] = {
    {"a%20b+c%2Bd", "a b c+d"},
    {"100%", "100"},
    {"%00", ""},
    {"%G1x", "x"},                     // not hexadecimal: both characters go
    {"%E3%81%82", "\xE3\x81\x82"},
    {"%41%3d", "A="},
    {"x%4", "x\x04"},                  // one digit left at the end
    {"%%41", "1"},                     // the second "%" is taken as a digit
    {"", ""},
};

TEST(PercentDecode, DecodesEscapesAndDropsBadOnes) {
  for (const DecodeCase& c : kDecodes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TIdURI::PercentDecode(c.text), c.decoded);
  }
}

}  // namespace
