#include "http/protocol/IdHeaderList.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

// Reading names and values

struct LineCase {
  const char* line;
  const char* name;
  const char* value;
};
const LineCase kLines[] = {
    {"Host:a", "HOST", "a"},           // no blank after the colon
    {"Host: a \t", "HOST", "a"},       // outer blanks and controls trimmed
    {"X-Empty:", "X-EMPTY", ""},
    {"Host : x", "HOST ", "x"},        // a blank before the colon stays in the name
    {"Ratio: 1:2", "RATIO", "1:2"},    // only the first colon separates
    {"no colon here", "", ""},
};

TEST(TIdHeaderList, ReadsNamesAndValues) {
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.line);
    const TIdHeaderList list = ListOf({c.line});
    EXPECT_EQ(list.NameFromLine(0), c.name);
    EXPECT_EQ(list.ValueFromLine(0), c.value);
  }
}

TEST(TIdHeaderList, KeepsNameCaseWhenAsked) {
  TIdHeaderList list = ListOf({"Content-Type: text/plain"});
  list.KeepNameCase = true;
  EXPECT_EQ(list.NameFromLine(0), "Content-Type");
  EXPECT_EQ(list.LineIndexOf("CONTENT-TYPE"), 0);
}

TEST(TIdHeaderList, NameWithBlankBeforeColonIsNotFound) {
  const TIdHeaderList list = ListOf({"Host : x"});
  EXPECT_EQ(list.LineIndexOf("Host"), -1);
  EXPECT_EQ(list.ValueOf("Host"), "");
}

TEST(TIdHeaderList, LooksUpWholeNamesOnly) {
  const TIdHeaderList list = ListOf({"Hostname: a", "no colon", "Host: b"});
  EXPECT_EQ(list.LineIndexOf("Host"), 2);  // a longer name that begins with it is another name
  EXPECT_EQ(list.LineIndexOf("HOSTNAME"), 0);
  EXPECT_EQ(list.LineIndexOf(""), 1);  // a line without a colon has the empty name
  TIdHeaderList pairs = ListOf({"a=1", "b = 2"});
  pairs.Separator = "=";
  EXPECT_EQ(pairs.ValueOf("A"), "1");
  EXPECT_EQ(pairs.LineIndexOf("b "), 1);
  EXPECT_EQ(pairs.NameFromLine(1), "B ");
}

TEST(TIdHeaderList, JoinsContinuationLines) {
  TIdHeaderList list = ListOf({"Host: a.example", "X-Long: part one ", "\tpart two", "  three", "", " Y: z"});
  EXPECT_EQ(list.ValueOf("x-long"), "part one part two three");
  EXPECT_EQ(list.ValueOf("host"), "a.example");
  list.JoinContinuations = false;
  EXPECT_EQ(list.ValueOf("x-long"), "part one");
  EXPECT_EQ(list.ValueFromLine(-1), "");
  EXPECT_EQ(list.ValueFromLine(6), "");
}

TEST(TIdHeaderList, OnlyTheFirstLineOfANameCounts) {
  const TIdHeaderList list = ListOf({"Cookie: a=1", "Host: h", "COOKIE: b=2", "cookie :c"});
  EXPECT_EQ(list.ValueOf("Cookie"), "a=1");
  std::vector<std::string> values{"kept"};
  list.CollectValues("cookie", &values);
  EXPECT_EQ(values, (std::vector<std::string>{"kept", "a=1", "b=2"}));
  list.CollectValues("cookie", nullptr);
}

// Changing lines by name

TEST(TIdHeaderList, PutReplacesInPlaceOrAppends) {
  TIdHeaderList list = ListOf({"Host: h", "content-length: 10", "X: y"});
  list.PutValue("Content-Length", "42");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Host: h", "Content-Length: 42", "X: y"}));
  list.PutValue("Server", "Velmora/1.0");
  EXPECT_EQ(list[3], "Server: Velmora/1.0");
}

TEST(TIdHeaderList, PutEmptyValueDeletesTheFirstLineOnly) {
  TIdHeaderList list = ListOf({"Cookie: a", "X: 1", "Cookie: b"});
  list.PutValue("cookie", "");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X: 1", "Cookie: b"}));
  list.PutValue("Absent", "");
  EXPECT_EQ(list.Count(), 2);
}

TEST(TIdHeaderList, PutDropsOldContinuationLinesOnlyWhenFolding) {
  TIdHeaderList folding = ListOf({"X-Long: one", " two", "Y: z"});
  folding.PutValue("X-Long", "new");
  EXPECT_EQ(folding.Lines(), (std::vector<std::string>{"X-Long: new", "Y: z"}));

  TIdHeaderList plain = ListOf({"X-Long: one", " two", "Y: z"});
  plain.FoldOnPut = false;
  plain.PutValue("X-Long", "");
  EXPECT_EQ(plain.Lines(), (std::vector<std::string>{" two", "Y: z"}));
}

// Folding

std::string Words(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? " word" : "word") + std::to_string(i);
  return text;
}

TEST(TIdHeaderList, FoldsLongValuesAt78Columns) {
  const std::string value = Words(32);
  ASSERT_GT(value.size(), 200u);
  TIdHeaderList list = ListOf({"A: b", "X-Long: old", " old continuation", "Z: y"});
  list.PutValue("X-Long", value);
  ASSERT_GT(list.Count(), 4);
  EXPECT_EQ(list[0], "A: b");
  EXPECT_EQ(list[list.Count() - 1], "Z: y");
  for (int i = 1; i < list.Count() - 1; ++i) {
    SCOPED_TRACE(list[i]);
    EXPECT_LE(list[i].size(), 78u);
    if (i > 1) {
      EXPECT_EQ(list[i][0], ' ');  // a continuation begins with exactly one blank
      EXPECT_NE(list[i][1], ' ');
    }
  }
  EXPECT_EQ(list.ValueOf("x-long"), value);  // joining undoes the folding
}

TEST(TIdHeaderList, NeverFoldsInsideQuotes) {
  const std::string quoted = "\"" + Words(15) + "\"";
  const std::string value = "a, b, " + quoted + ", c";
  TIdHeaderList list;
  list.PutValue("X-Quoted", value);
  ASSERT_GT(list.Count(), 1);
  bool whole = false;
  for (const std::string& line : list.Lines()) whole = whole || line.find(quoted) != std::string::npos;
  EXPECT_TRUE(whole);
  EXPECT_EQ(list.ValueOf("X-Quoted"), value);
}

TEST(TIdHeaderList, RunWithoutBreakCharactersStaysWhole) {
  // The blank after the colon is the only place to break.
  const std::string value(300, 'x');
  TIdHeaderList list;
  list.PutValue("X", value);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X:", " " + value}));
  list.FoldWidth = 1024;
  list.PutValue("X", value);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X: " + value}));
}

// A line that ends short of the width is taken whole without the folding walk; the walk's
// results from the width on, and for a line holding its own break, stay as they were.
TEST(TIdHeaderList, FoldsOnlyLinesThatPassTheWidth) {
  TIdHeaderList list;
  list.FoldWidth = 12;
  EXPECT_EQ(list.FoldText("X: aa b   "), (std::vector<std::string>{"X: aa b"}));
  EXPECT_EQ(list.FoldText("X: aaa bbbb"), (std::vector<std::string>{"X: aaa bbbb"}));
  EXPECT_EQ(list.FoldText("X: aaaa bbbbb"), (std::vector<std::string>{"X: aaaa bbbbb"}));
  EXPECT_EQ(list.FoldText("X: aaaa bbbbbb"), (std::vector<std::string>{"X: aaaa", " bbbbbb"}));
  EXPECT_EQ(list.FoldText("X: a\r\n b"), (std::vector<std::string>{"X: a", " b"}));
}

TEST(WrapForFolding, KeepsAnExistingBreak) {
  EXPECT_EQ(WrapForFolding("a: b\r\n c", "\r\n ", "\t ,", 78), "a: b\r\n c");
}

// Regression: every continuation line copied the whole value joined so far, so 1 MB of folded
// lines took minutes of CPU. The join is now linear; a quadratic one would not end in time here.
TEST(TIdHeaderList, JoinsAMegabyteOfContinuationLines) {
  TIdHeaderList list;
  list.Add("X-Long: start");
  for (int i = 0; i < (1 << 20) / 4; ++i) list.Add(i % 2 == 0 ? " ab" : "\t ");
  const std::string value = list.ValueOf("x-long");
  EXPECT_EQ(value.size(), 5 + (1u << 20) / 8 * 3);
  EXPECT_EQ(value.substr(0, 11), "start ab ab");
}

// The plain list

TEST(TIdHeaderList, TextUsesCrLfAfterEveryLine) {
  TIdHeaderList list;
  list.SetText("a\r\nb\nc\rd\r\n");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
  list.SetText("x\r\n\r\ny");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"x", "", "y"}));
}

}  // namespace
