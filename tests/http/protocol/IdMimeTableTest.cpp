#include "http/protocol/IdMimeTable.h"

#include "http/net/IdException.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A table with no system database, and a test database file in a folder of its own.
class MimeTable : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmora-mime-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FFolder = pattern;
  }
  void TearDown() override { fs::remove_all(FFolder); }

  std::string Missing() const { return (FFolder / "absent.types").string(); }
  std::string Database(const std::string& text) const {
    const fs::path path = FFolder / "mime.types";
    std::ofstream(path) << text;
    return path.string();
  }

private:
  fs::path FFolder;
};

struct TypeCase {
  const char* fileName;
  const char* type;
};
const TypeCase kBuiltIn[] = {
    {"a.htm", "text/html"}, {"a.html", "text/html"}, {"a.txt", "text/plain"}, {"a.xml", "text/xml"},
    {"a.css", "text/css"}, {"a.jpg", "image/jpeg"}, {"a.jpeg", "image/jpeg"}, {"a.jpe", "image/jpeg"},
    {"a.gif", "image/gif"}, {"a.png", "image/x-png"}, {"a.bmp", "image/bmp"},
    {"a.zip", "application/x-zip-compressed"}, {"a.gz", "application/x-gzip"}, {"a.pdf", "application/pdf"},
    {"a.doc", "application/msword"}, {"a.xls", "application/x-msexcel"}, {"a.mp3", "audio/x-mpg"},
    {"a.mid", "midi/mid"}, {"a.shtml", "server-parsed-html"},
    {"a.xbm", "image/xbm"},                                        // the first of two lines counts
    {"a.mjf", "audio/x-vnd.audioexplosion.mjuicemediafile"},       // types are lower-cased
    {"a.exe", "application/octet-stream"}, {"a.js", "application/octet-stream"},
    {"a.mp4", "application/octet-stream"}, {"a.7z", "application/octet-stream"},
    // Which part of a name is the extension
    {"C:\\pub\\Photo.JPG", "image/jpeg"},
    {"C:\\pub\\archive.tar.gz", "application/x-gzip"},
    {"/pub/archive.tar.gz", "application/x-gzip"},
    {"C:\\pub\\README", "application/octet-stream"},
    {"C:\\pub\\file.", "application/octet-stream"},
    {"C:\\pub\\dir.x\\file", "application/octet-stream"},
    {"/pub/dir.x/file", "application/octet-stream"},
    {"C:file.txt", "text/plain"},
    {"x.txt:stream", "application/octet-stream"},
    {"", "application/octet-stream"},
};

TEST_F(MimeTable, BuiltInLinesAndExtensionRules) {
  TIdMimeTable table(true, Missing());
  EXPECT_EQ(table.Count(), 134);  // 136 lines, two of them repeats
  for (const TypeCase& c : kBuiltIn) {
    SCOPED_TRACE(c.fileName);
    EXPECT_EQ(table.MimeTypeOf(c.fileName), c.type);
  }
}

TEST_F(MimeTable, SystemDatabaseTakesPrecedence) {
  TIdMimeTable table(true, Database("# comment line\n"
                                    "image/jpeg\tjpg jpeg\n"
                                    "image/pjpeg jpg\n"
                                    "application/x-custom   foo BAR  # trailing comment\n"
                                    "image/x-xbitmap xbm\n"
                                    "text/x-nothing\n"
                                    "\n"
                                    "Application/X-Upper up\n"));
  EXPECT_EQ(table.MimeTypeOf("a.jpg"), "image/pjpeg");  // the last line naming it wins
  EXPECT_EQ(table.MimeTypeOf("a.jpeg"), "image/jpeg");
  EXPECT_EQ(table.MimeTypeOf("a.xbm"), "image/x-xbitmap");
  EXPECT_EQ(table.MimeTypeOf("a.foo"), "application/x-custom");
  EXPECT_EQ(table.MimeTypeOf("a.bar"), "application/x-custom");
  EXPECT_EQ(table.MimeTypeOf("a.up"), "application/x-upper");
  EXPECT_EQ(table.MimeTypeOf("a.txt"), "text/plain");
  // Replaced lines keep their place; new ones come after the built-in lines.
  EXPECT_EQ(table.Extensions()[15], ".jpg");
  EXPECT_EQ(table.Extensions()[134], ".foo");
  EXPECT_EQ(table.Count(), 137);
}

TEST_F(MimeTable, FillsOnlyAnEmptyList) {
  const TIdMimeTable table(false, Missing());
  std::vector<std::string> lines{"only=line"};
  table.FillMimeTypes(&lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"only=line"}));
  table.FillMimeTypes(nullptr);
  lines.clear();
  table.FillMimeTypes(&lines);
  ASSERT_EQ(lines.size(), 136u);
  EXPECT_EQ(lines.front(), ".aiff=audio/x-aiff");
  EXPECT_EQ(lines.back(), ".sgml=text/sgml");
}

TEST_F(MimeTable, AddTypeNormalisesAndRefusesBadPairs) {
  TIdMimeTable table(false, Missing());
  EXPECT_EQ(table.Count(), 0);
  table.AddType("TXT", "Text/Plain");
  EXPECT_EQ(table.Extensions(), (std::vector<std::string>{".txt"}));
  EXPECT_EQ(table.Types(), (std::vector<std::string>{"text/plain"}));
  struct Bad {
    const char *ext, *type, *message;
  };
  for (const Bad& bad : {Bad{".txt", "x/y", "Extension already exits"}, Bad{".TXT", "x/y", "Extension already exits"},
                         Bad{"", "x/y", "Extension is empty"}, Bad{"abc", "", "Mimetype is empty"}}) {
    SCOPED_TRACE(bad.message);
    try {
      table.AddType(bad.ext, bad.type);
      ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), bad.message);
    }
  }
  EXPECT_EQ(table.Count(), 1);
}

TEST_F(MimeTable, LoadKeepsTheFirstLineOfAnExtension) {
  TIdMimeTable table(false, Missing());
  table.AddType(".old", "x/old");
  table.LoadMimeTypes({"TXT=a/b", ".txt=c/d", "no separator", "=x/y", "htm=text/html=x"}, "=");
  EXPECT_EQ(table.Extensions(), (std::vector<std::string>{".txt", ".htm"}));
  EXPECT_EQ(table.Types(), (std::vector<std::string>{"a/b", "text/html=x"}));
}

TEST_F(MimeTable, OnFillReplacesTheDefaultFilling) {
  TIdMimeTable table(false, Missing());
  int calls = 0;
  table.OnFill = [&calls](TIdMimeTable& t) {
    ++calls;
    if (t.Count() == 0) t.AddType(".abc", "x/abc");
  };
  EXPECT_EQ(table.MimeTypeOf("f.abc"), "x/abc");
  EXPECT_EQ(table.MimeTypeOf("f.txt"), "application/octet-stream");
  EXPECT_EQ(calls, 2);  // every miss asks again
  EXPECT_EQ(table.Count(), 1);
}

}  // namespace
