#include "publish/ListingPage.h"
#include "publish/BuiltText.h"

#include <sys/stat.h>

#include <regex>

#include <gtest/gtest.h>

#include "platform/TestTree.h"
#include "platform/Text.h"

namespace {

using testing_tree::LocalMoment;

const char kHead[] =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\"><HTML><HEAD><TITLE>\r\n"
    "Velmora\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE5\x85\xAC\xE9\x96\x8B\xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x90\r\n"
    "</TITLE></HEAD><BODY><HR><PRE>\r\n";
const char kTail[] = "</PRE><HR></BODY></HTML>";
const char kFolderWord[] = "\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80";  // フォルダ in UTF-8

class ListingPageTest : public ::testing::Test {
protected:
  TScopedTimeZone Zone{"JST-9"};
  testing_tree::TScopedCodePage CodePage{platform::TCodePage::Utf8};
  testing_tree::TTempTree Tree;
  platform::TRegionalFormats Formats;  // %Y/%m/%d and %H:%M:%S

  static platform::TSearchRec Entry(const std::string& name, std::int64_t size, std::time_t time,
                                    std::uint32_t attr = platform::faArchive) {
    platform::TSearchRec entry;
    entry.Name = name;
    entry.Size = size;
    entry.LastWrite = time;
    entry.Attr = attr;
    return entry;
  }

  // The names of the page's entry lines, in page order.
  static std::vector<std::string> ListedNames(const std::string& page) {
    static const std::regex kLink("\">([^<]*)</A>");
    std::vector<std::string> names;
    for (std::sregex_iterator it(page.begin(), page.end(), kLink), end; it != end; ++it)
      names.push_back((*it)[1]);
    return names;
  }
};

// The whole page, byte for byte
TEST_F(ListingPageTest, WritesTheWholePage) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.Folder("pub/docs", moment);
  Tree.File("pub/a.txt", std::string(1234, 'x'), moment);
  Tree.SetTime("pub", LocalMoment(2004, 6, 20, 8, 0, 0));
  Tree.SetTime("", LocalMoment(2004, 6, 21, 0, 0, 0));
  const std::string expected =
      std::string(kHead) +
      "<A HREF=\"././\">.</A>" + std::string(40, ' ') + "2004/06/20 08:00:00   " + kFolderWord + "\r\n" +
      "<A HREF=\"./../\">..</A>" + std::string(39, ' ') + "2004/06/21   " + kFolderWord + "\r\n" +
      "<A HREF=\"./a.txt\">a.txt</A>" + std::string(36, ' ') + "2004/06/19 22:22:17   1234\r\n" +
      "<A HREF=\"./docs/\">docs</A>" + std::string(37, ' ') + "2004/06/19 22:22:17   " + kFolderWord + "\r\n" +
      kTail;
  EXPECT_EQ(built_text::ListingText(Tree.At("pub"), TPublishSettings{}, Formats), expected);
  EXPECT_EQ(built_text::ListingText(Tree.At("pub/"), TPublishSettings{}, Formats), expected);
}

TEST_F(ListingPageTest, AFolderThatCannotBeReadHasNoLines) {
  EXPECT_EQ(built_text::ListingText(Tree.At("missing"), TPublishSettings{}, Formats), std::string(kHead) + kTail);
}

// Blank fill: 41 columns counted on the shown name
TEST_F(ListingPageTest, FillsToColumnFortyOne) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  const std::string wide10 = "\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\xE3\x81\x88\xE3\x81\x8A"
                             "\xE3\x81\x8B\xE3\x81\x8D\xE3\x81\x8F\xE3\x81\x91\xE3\x81\x93";  // あ..こ
  struct Case {
    std::string name;
    std::size_t blanks;
  };
  const Case cases[] = {
      {std::string(39, 'n'), 2}, {std::string(40, 'n'), 1},       {std::string(41, 'n'), 1},
      {std::string(60, 'n'), 1}, {wide10 + wide10, 1},  // 40 columns
      {"a", 40},                 {wide10, 21},                     {"a&<b", 37},  // escaping adds no column
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = ListingLine(Entry(c.name, 1, moment), Formats);
    const std::size_t end = line.find("</A>") + 4;
    EXPECT_EQ(line.substr(end), std::string(c.blanks, ' ') + "2004/06/19 22:22:17   1\r\n");
  }
}

TEST_F(ListingPageTest, CountsShiftJisDoubleByteCharactersAsTwoColumns) {
  const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  std::string name;
  for (int i = 0; i < 10; ++i) name += "\x82\xA0";  // あ in Shift-JIS
  const std::string line = ListingLine(Entry(name, 0, LocalMoment(2004, 6, 19, 0, 0, 0), platform::faDirectory), Formats);
  // Link target in UTF-8 (browsers send paths back so); name and folder word in Shift-JIS.
  std::string target;
  for (int i = 0; i < 10; ++i) target += "%E3%81%82";
  EXPECT_EQ(line, "<A HREF=\"./" + target + "/\">" + name + "</A>" + std::string(21, ' ') +
                      "2004/06/19   \x83\x74\x83\x48\x83\x8B\x83\x5F\r\n");
}

// Regression: a name that the code page cannot read was linked as U+FFFD (%EF%BF%BD), which
// names no entry, so the link got 404 and wget -r missed the file.
TEST_F(ListingPageTest, LinksANameTheCodePageCannotReadByItsOwnBytes) {
  const auto target = [this](const std::string& name) {
    const std::string line = ListingLine(Entry(name, 1, LocalMoment(2004, 6, 19, 1, 2, 3)), Formats);
    const std::size_t start = line.find("./") + 2;
    return line.substr(start, line.find('"', start) - start);
  };
  EXPECT_EQ(target("a\xFF" "b.txt"), "a%FFb.txt");
  EXPECT_EQ(target("\xE3\x81\x82"), "%E3%81%82");
  const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  EXPECT_EQ(target("\x82\xA0"), "%E3%81%82");  // あ: its UTF-8 form, which the handler converts back
  EXPECT_EQ(target("a\x82"), "a%82");          // a lead byte without its trail byte
  EXPECT_EQ(target("\xFD.bin"), "%FD.bin");    // no character of code page 932
}

// Regression: the shown name kept bytes that are no character, so the page was no valid UTF-8.
TEST_F(ListingPageTest, ShowsBytesThatAreNoCharacterAsReplacements) {
  const std::string line = ListingLine(Entry("a\xFF\xC3" "b.txt", 1, LocalMoment(2004, 6, 19, 1, 2, 3)), Formats);
  EXPECT_EQ(ListedNames(line), std::vector<std::string>{"a\xEF\xBF\xBD\xEF\xBF\xBD" "b.txt"});
  EXPECT_NE(line.find("./a%FF%C3b.txt\""), std::string::npos);  // the link keeps the real bytes
  EXPECT_TRUE(platform::IsValidUtf8(line));
  // Each replacement takes the one column its byte took.
  EXPECT_EQ(line.find("2004/06/19"), line.find("</A>") + 4 + 41 - 8);
  const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  EXPECT_EQ(ListedNames(ListingLine(Entry("\x82\xA0\xFD" "c", 1, LocalMoment(2004, 6, 19, 1, 2, 3)), Formats)),
            std::vector<std::string>{"\x82\xA0?c"});
}

// Date and time column
TEST_F(ListingPageTest, WritesTheTrueTimeAndOnlyTheDateAtMidnight) {
  struct Case {
    std::time_t time;
    const char* shown;
  };
  const Case cases[] = {
      {LocalMoment(2004, 6, 19, 0, 0, 0), "2004/06/19   "},
      {LocalMoment(2004, 6, 19, 0, 0, 1), "2004/06/19 00:00:01   "},
      {LocalMoment(2004, 6, 19, 23, 59, 59), "2004/06/19 23:59:59   "},
      {LocalMoment(1975, 3, 1, 12, 0, 0), "1975/03/01 12:00:00   "},  // before the packed range
      {LocalMoment(2120, 3, 1, 12, 0, 0), "2120/03/01 12:00:00   "},  // after it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    const std::string line = ListingLine(Entry("f", 7, c.time), Formats);
    EXPECT_EQ(line.substr(line.find("</A>") + 4 + 40), std::string(c.shown) + "7\r\n");
  }
}

TEST_F(ListingPageTest, ShowsSizesBeyondThirtyTwoBits) {
  const std::string line = ListingLine(Entry("big.iso", 5368709121LL, LocalMoment(2004, 6, 19, 1, 2, 3)), Formats);
  EXPECT_NE(line.find("   5368709121\r\n"), std::string::npos);
}

// Names with HTML and URL metacharacters never break out of the link
TEST_F(ListingPageTest, EncodesTargetsAndEscapesShownNames) {
  const std::string line = ListingLine(Entry("a&b<c>#%+ \"d.txt", 1, LocalMoment(2004, 6, 19, 1, 2, 3)), Formats);
  EXPECT_EQ(line.substr(0, line.find("</A>") + 4),
            "<A HREF=\"./a%26b%3Cc%3E%23%25%2B%20%22d.txt\">a&amp;b&lt;c&gt;#%+ &quot;d.txt</A>");
  EXPECT_EQ(line.substr(line.find("</A>") + 4, 26), std::string(25, ' ') + "2");  // 16 columns shown
}

// Withheld kinds
TEST_F(ListingPageTest, ListsWhatTheSettingsDoNotWithhold) {
  Tree.Folder("pub/sub");
  Tree.Folder("pub/docs.txt");
  for (const char* name : {"normal.txt", ".hidden.txt", "UPPER.TXT", "noext", "readonly.txt"}) Tree.File("pub/" + std::string(name));
  chmod(Tree.At("pub/readonly.txt").c_str(), 0444);
  ASSERT_EQ(mkfifo(Tree.At("pub/pipe").c_str(), 0644), 0);

  TPublishSettings allOff;
  allOff.ExcludeHidden = allOff.ExcludeSystem = false;
  TPublishSettings readOnlyOut;
  readOnlyOut.ExcludeReadOnly = true;
  TPublishSettings txt;
  txt.ExtensionFilter = true;
  txt.Extension = "txt";
  TPublishSettings noExtension;
  noExtension.ExtensionFilter = true;
  struct Case {
    const char* what;
    TPublishSettings settings;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"defaults", TPublishSettings{}, {".", "..", "docs.txt", "noext", "normal.txt", "readonly.txt", "sub", "UPPER.TXT"}},
      {"all exclusions off", allOff,
       {".", "..", ".hidden.txt", "docs.txt", "noext", "normal.txt", "pipe", "readonly.txt", "sub", "UPPER.TXT"}},
      {"read-only excluded, still listed", readOnlyOut,
       {".", "..", "docs.txt", "noext", "normal.txt", "readonly.txt", "sub", "UPPER.TXT"}},
      // The filter picks files: folders stay reachable, "." and ".." included.
      {"extension txt", txt, {".", "..", "docs.txt", "normal.txt", "readonly.txt", "sub", "UPPER.TXT"}},
      {"empty extension", noExtension, {".", "..", "docs.txt", "noext", "sub"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ListedNames(built_text::ListingText(Tree.At("pub"), c.settings, Formats)), c.names);
  }
}

}  // namespace
