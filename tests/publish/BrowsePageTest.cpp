// The browse page, its JSON form and the rows they carry: order, paging, filter, sizes, texts,
// and every way a hostile name could break out of its place.

#include "publish/BrowsePage.h"
#include "publish/BrowseJson.h"
#include "publish/BuiltText.h"
#include "publish/Sha256.h"

#include <gtest/gtest.h>

#include "http/protocol/IdCoderMIME.h"
#include "platform/TestTree.h"

namespace {

platform::TSearchRec Entry(const std::string& name, std::int64_t size, std::time_t time, bool folder = false) {
  platform::TSearchRec entry;
  entry.Name = name;
  entry.Size = size;
  entry.LastWrite = time;
  entry.Attr = folder ? platform::faDirectory : platform::faArchive;
  return entry;
}

// The rows of records held by the test, as the handler makes them of a folder's entries.
std::vector<TBrowseEntry> Rows(const std::vector<platform::TSearchRec>& entries) {
  std::vector<TBrowseEntry> rows;
  for (const auto& entry : entries) rows.push_back({entry.Name, &entry});
  return rows;
}

TBrowseRows RowsOf(const std::vector<platform::TSearchRec>& entries, const TBrowseQuery& query) {
  return BrowseRowsOf(Rows(entries), query);
}

std::vector<std::string> Names(const TBrowseRows& rows) {
  std::vector<std::string> names;
  for (const auto& entry : rows.Rows) names.emplace_back(entry.Name);
  return names;
}

std::string Page(const std::vector<platform::TSearchRec>& entries, const TBrowseQuery& query = {},
                 const std::string& path = "/", const TBrowseTexts& texts = BrowseTextsFor(""),
                 std::size_t memoryLimit = kBodyMemoryLimit) {
  TBodySink sink(built_text::Space(), memoryLimit);
  BrowsePage(sink, {path, RowsOf(entries, query)}, query, texts);
  return sink.Contents();
}

std::string Json(const std::vector<platform::TSearchRec>& entries, const std::string& path = "/",
                 std::size_t memoryLimit = kBodyMemoryLimit) {
  TBodySink sink(built_text::Space(), memoryLimit);
  BrowseJson(sink, {path, RowsOf(entries, {})});
  return sink.Contents();
}

class BrowsePageTest : public ::testing::Test {
protected:
  testing_tree::TScopedCodePage CodePage{platform::TCodePage::Utf8};
  // In the folder's own order (by name), as the listing reads them.
  const std::vector<platform::TSearchRec> Folder = {
      Entry(".", 0, 50, true), Entry("..", 0, 50, true), Entry("a.txt", 300, 30), Entry("B.jpg", 100, 10),
      Entry("c", 0, 20, true),  Entry("d.bin", 200, 40),  Entry("E", 0, 5, true)};
};

TEST_F(BrowsePageTest, FoldersComeFirstInEveryOrder) {
  const auto sorted = [this](const std::vector<std::string>& params) {
    return Names(RowsOf(Folder, BrowseQueryOf(params)));
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(sorted({"browse"}), (V{"c", "E", "a.txt", "B.jpg", "d.bin"}));
  EXPECT_EQ(sorted({"browse", "order=desc"}), (V{"E", "c", "d.bin", "B.jpg", "a.txt"}));
  EXPECT_EQ(sorted({"browse", "sort=size"}), (V{"c", "E", "B.jpg", "d.bin", "a.txt"}));
  EXPECT_EQ(sorted({"browse", "sort=size", "order=desc"}), (V{"c", "E", "a.txt", "d.bin", "B.jpg"}));
  EXPECT_EQ(sorted({"browse", "sort=date"}), (V{"E", "c", "B.jpg", "a.txt", "d.bin"}));
  EXPECT_EQ(sorted({"browse", "sort=date", "order=desc"}), (V{"c", "E", "d.bin", "a.txt", "B.jpg"}));
  // Unknown values keep the default rather than failing the page.
  EXPECT_EQ(sorted({"browse", "sort=colour", "order=up", "page=x", "offset=-1"}), sorted({"browse"}));
  EXPECT_EQ(sorted({"browse", "q=B"}), (V{"B.jpg", "d.bin"}));  // letter case aside
}

TEST_F(BrowsePageTest, PagesHoldAThousandRowsAndLinkTheNext) {
  std::vector<platform::TSearchRec> many;
  for (int i = 0; i < 2500; ++i) many.push_back(Entry("f" + std::to_string(10000 + i), i, i));
  EXPECT_EQ(RowsOf(many, BrowseQueryOf({"browse"})).Rows.size(), 1000u);
  const TBrowseRows third = RowsOf(many, BrowseQueryOf({"browse", "page=3"}));
  EXPECT_EQ(third.Total, 2500u);
  ASSERT_EQ(third.Rows.size(), 500u);
  EXPECT_EQ(third.Rows.front().Name, "f12000");
  EXPECT_EQ(RowsOf(many, BrowseQueryOf({"browse", "offset=2499"})).Rows.size(), 1u);
  EXPECT_TRUE(RowsOf(many, BrowseQueryOf({"browse", "page=99999999999999999999"})).Rows.empty());
  EXPECT_TRUE(RowsOf(many, BrowseQueryOf({"browse", "page=18446744073709551615"})).Rows.empty());

  const TBrowseQuery query = BrowseQueryOf({"browse", "sort=size", "order=desc", "page=2"});
  const std::string page = Page(many, query);
  EXPECT_NE(page.find("<a id=\"more\" href=\"?browse&amp;sort=size&amp;order=desc&amp;offset=2000\">"),
            std::string::npos);
  EXPECT_EQ(Page(many, BrowseQueryOf({"browse", "page=3"})).find("id=\"more\""), std::string::npos);
}

// Equal keys keep the name order in both directions of a date or size order; only the name
// order itself turns round.
TEST_F(BrowsePageTest, EqualKeysKeepTheNameOrder) {
  const std::vector<platform::TSearchRec> folder = {Entry("a", 5, 7), Entry("b", 5, 7), Entry("C", 0, 7, true),
                                                    Entry("c", 9, 1), Entry("D", 0, 7, true), Entry("e", 5, 7)};
  const auto sorted = [&folder](const std::vector<std::string>& params) {
    return Names(RowsOf(folder, BrowseQueryOf(params)));
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(sorted({"browse", "sort=size"}), (V{"C", "D", "a", "b", "e", "c"}));
  EXPECT_EQ(sorted({"browse", "sort=size", "order=desc"}), (V{"C", "D", "c", "a", "b", "e"}));
  EXPECT_EQ(sorted({"browse", "sort=date", "order=desc"}), (V{"C", "D", "a", "b", "e", "c"}));
  EXPECT_EQ(sorted({"browse", "order=desc"}), (V{"D", "C", "e", "c", "b", "a"}));
}

// A page or JSON text longer than the sink keeps in memory comes out the same from its file.
TEST_F(BrowsePageTest, LongAnswersAreTheSameFromATemporaryFile) {
  std::vector<platform::TSearchRec> many;
  for (int i = 0; i < 300; ++i) many.push_back(Entry("photo-" + std::to_string(1000 + i) + ".jpg", i * 999, i, i % 7 == 0));
  const TBrowseQuery grid = BrowseQueryOf({"browse", "view=grid"});
  EXPECT_EQ(Page(many, grid, "/", BrowseTextsFor(""), 4096), Page(many, grid));
  EXPECT_EQ(Json(many, "/", 4096), Json(many));
}

TEST_F(BrowsePageTest, SizesInHumanUnitsAtTheirBoundaries) {
  EXPECT_EQ(HumanSize(0), "0 B");
  EXPECT_EQ(HumanSize(1023), "1023 B");
  EXPECT_EQ(HumanSize(1024), "1.0 KB");
  EXPECT_EQ(HumanSize(10188), "9.9 KB");
  EXPECT_EQ(HumanSize(10239), "10 KB");  // 9.999 KB would read "10.0"
  EXPECT_EQ(HumanSize(12 * 1024), "12 KB");
  EXPECT_EQ(HumanSize(1048575), "1.0 MB");  // never "1024 KB"
  EXPECT_EQ(HumanSize(2LL << 30), "2.0 GB");
  EXPECT_EQ(HumanSize(INT64_MAX), "8.0 EB");
  EXPECT_EQ(IsoUtc(1796760563), "2026-12-08T20:09:23Z");
}

TEST_F(BrowsePageTest, TextsFollowTheFirstLanguageOfTheBrowser) {
  EXPECT_STREQ(BrowseTextsFor("ja,en-US;q=0.8").Lang, "ja");
  EXPECT_STREQ(BrowseTextsFor(" ja-JP").Lang, "ja");
  EXPECT_STREQ(BrowseTextsFor("JA;q=1").Lang, "ja");
  EXPECT_STREQ(BrowseTextsFor("en-US,ja;q=0.9").Lang, "en");
  EXPECT_STREQ(BrowseTextsFor("jam").Lang, "en");
  EXPECT_STREQ(BrowseTextsFor("").Lang, "en");
  const std::string japanese = Page(Folder, {}, "/", BrowseTextsFor("ja"));
  EXPECT_NE(japanese.find("<html lang=\"ja\">"), std::string::npos);
  EXPECT_NE(japanese.find(">名前 &#9650;</a>"), std::string::npos);
  EXPECT_NE(Page(Folder).find(">Name &#9650;</a>"), std::string::npos);
}

TEST_F(BrowsePageTest, HostileNamesStayInertInEveryPlace) {
  const std::vector<std::string> names = {"<img src=x onerror=alert(1)>.jpg", "\"><svg onload=alert(1)>",
                                          "it's \"q\".txt", "a#b%c?d&e+f.txt", "bad\xFF\xFE.txt",
                                          "</script><script>alert(1)</script>"};
  std::vector<platform::TSearchRec> entries;
  for (const auto& name : names) entries.push_back(Entry(name, 1, 0));
  entries.push_back(Entry("<b>dir", 0, 0, true));
  for (const bool grid : {false, true}) {
    TBrowseQuery query;
    query.Grid = grid;
    const std::string page = Page(entries, query, "/<i>&\"/");
    // No markup of a name survives: every "<" of the page belongs to the page itself.
    EXPECT_EQ(page.find("<img src=x"), std::string::npos);
    EXPECT_EQ(page.find("<svg onload"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);
    EXPECT_EQ(page.find("\"><script>"), std::string::npos);
    // One script element only: a name never closes it or opens another.
    EXPECT_EQ(page.find("<script"), page.rfind("<script"));
    EXPECT_NE(page.find("href=\"./a%23b%25c%3Fd%26e%2Bf.txt\""), std::string::npos);
    EXPECT_NE(page.find(">it's &quot;q&quot;.txt</a>"), std::string::npos);
    EXPECT_NE(page.find("href=\"./bad%FF%FE.txt\""), std::string::npos);  // the real bytes
    EXPECT_NE(page.find(">bad\xEF\xBF\xBD\xEF\xBF\xBD.txt</a>"), std::string::npos);  // shown as U+FFFD
    EXPECT_NE(page.find("href=\"./%3Cb%3Edir/?browse\""), std::string::npos);
    EXPECT_NE(page.find("<title>/&lt;i&gt;&amp;&quot;/</title>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"/%3Ci%3E%26%22/?browse\">&lt;i&gt;&amp;&quot;</a>"), std::string::npos);
  }
  const std::string filtered = Page(entries, BrowseQueryOf({"browse", "q=\"><script>x"}));
  EXPECT_EQ(filtered.find("\"><script>"), std::string::npos);
  EXPECT_NE(filtered.find("value=\"&quot;&gt;&lt;script&gt;x\""), std::string::npos);
  EXPECT_NE(filtered.find("&amp;q=%22%3E%3Cscript%3Ex"), std::string::npos);  // in the sort links
  const std::string grid = Page(entries, BrowseQueryOf({"browse", "view=grid"}));
  EXPECT_NE(grid.find("src=\"./%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.jpg?thumb\" srcset=\"./"
                      "%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.jpg?thumb 1x, ./%3Cimg%20src%3Dx%20onerror%3D"
                      "alert%281%29%3E.jpg?thumb=640 2x\""),
            std::string::npos);

  const std::string json = Json(entries, "/\"</script>/");
  EXPECT_EQ(json.find('<'), std::string::npos);
  EXPECT_NE(json.find("{\"path\": \"/\\\"\\u003c/script\\u003e/\""), std::string::npos);
  EXPECT_NE(json.find("\"name\": \"\\\"\\u003e\\u003csvg onload=alert(1)\\u003e\", \"type\": \"file\""),
            std::string::npos);
  EXPECT_NE(json.find("\"name\": \"bad\xEF\xBF\xBD\xEF\xBF\xBD.txt\", \"href\": \"bad%FF%FE.txt\", \"type\""),
            std::string::npos);
  EXPECT_NE(json.find("\"name\": \"a#b%c?d\\u0026e+f.txt\", \"type\""), std::string::npos);
}

TEST_F(BrowsePageTest, JsonCarriesTheRowsInPageOrder) {
  EXPECT_EQ(Json(Folder, "/photos/"),
            "{\"path\": \"/photos/\", \"total\": 5, \"entries\": [\n"
            "{\"name\": \"c\", \"type\": \"folder\", \"size\": 0, \"modified\": \"1970-01-01T00:00:20Z\"},\n"
            "{\"name\": \"E\", \"type\": \"folder\", \"size\": 0, \"modified\": \"1970-01-01T00:00:05Z\"},\n"
            "{\"name\": \"a.txt\", \"type\": \"file\", \"size\": 300, \"modified\": \"1970-01-01T00:00:30Z\"},\n"
            "{\"name\": \"B.jpg\", \"type\": \"file\", \"size\": 100, \"modified\": \"1970-01-01T00:00:10Z\"},\n"
            "{\"name\": \"d.bin\", \"type\": \"file\", \"size\": 200, \"modified\": \"1970-01-01T00:00:40Z\"}]}\n");
  EXPECT_EQ(Json({}), "{\"path\": \"/\", \"total\": 0, \"entries\": []}\n");
}

TEST_F(BrowsePageTest, RowsCarryWhatBothViewsNeed) {
  const std::string root = Page(Folder);
  EXPECT_EQ(root.find("href=\"../?browse\""), std::string::npos);  // nothing above the root
  EXPECT_NE(Page(Folder, {}, "/sub/").find("href=\"../?browse\""), std::string::npos);
  EXPECT_NE(root.find("<span title=\"300 bytes\">300 B</span>"), std::string::npos);
  EXPECT_NE(root.find("<time datetime=\"1970-01-01T00:00:30Z\">1970-01-01T00:00:30Z</time>"), std::string::npos);
  EXPECT_NE(root.find("<a href=\"./c/?zip\" download>ZIP</a><a href=\"./c/?tar\" download>TAR</a>"), std::string::npos);
  EXPECT_NE(root.find("<a href=\"./a.txt\" download>Download</a>"), std::string::npos);
  EXPECT_NE(root.find("<meta name=\"viewport\""), std::string::npos);
  EXPECT_EQ(root.find("?thumb"), std::string::npos);  // the list loads no pictures
  const std::string grid = Page(Folder, BrowseQueryOf({"browse", "view=grid"}));
  EXPECT_NE(grid.find("<a class=\"name view\" href=\"./B.jpg\"><img class=\"thumb\" loading=\"lazy\" width=\"160\" "
                      "height=\"160\""),
            std::string::npos);
  EXPECT_EQ(grid.find("./a.txt?thumb"), std::string::npos);  // only pictures have thumbnails
  EXPECT_NE(grid.find("<a href=\"?browse\">List</a>"), std::string::npos);
}

TEST(BrowsePageCodePageTest, ShiftJisNamesAndUtf8PathsBothShowAsUtf8) {
  testing_tree::TScopedCodePage codePage{platform::TCodePage::ShiftJis};
  const std::vector<platform::TSearchRec> entries = {Entry("\x8E\xCA\x90\x5E.jpg", 1, 0)};  // 写真.jpg
  const std::string page = Page(entries, {}, "/\xE5\x86\x99\xE7\x9C\x9F/");  // as a browser sends it
  EXPECT_NE(page.find("<title>/\xE5\x86\x99\xE7\x9C\x9F/</title>"), std::string::npos);
  EXPECT_NE(page.find("<a class=\"name\" href=\"./%E5%86%99%E7%9C%9F.jpg\">\xE5\x86\x99\xE7\x9C\x9F.jpg</a>"),
            std::string::npos);
  const std::string json = Json(entries, "/\xE5\x86\x99\xE7\x9C\x9F/");
  EXPECT_NE(json.find("{\"path\": \"/\xE5\x86\x99\xE7\x9C\x9F/\""), std::string::npos);
  EXPECT_NE(json.find("\"name\": \"\xE5\x86\x99\xE7\x9C\x9F.jpg\", \"type\""), std::string::npos);
}

TEST(Sha256Test, KnownDigestsAndThePolicyNamesThePagesOwnCode) {
  const auto base64 = [](std::string_view text) {
    const auto digest = Sha256(text);
    return TIdEncoderMIME::EncodeText(std::string(digest.begin(), digest.end()));
  };
  EXPECT_EQ(base64(""), "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
  EXPECT_EQ(base64("abc"), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
  // 56 bytes: the length no longer fits the first block.
  EXPECT_EQ(base64("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE=");
  const std::string& policy = BrowseSecurityPolicy();
  EXPECT_TRUE(policy.starts_with("default-src 'none'; "));
  EXPECT_NE(policy.find("script-src 'sha256-" + base64(kBrowseScript) + "'"), std::string::npos);
  EXPECT_NE(policy.find("style-src 'sha256-" + base64(kBrowseStyle) + "'"), std::string::npos);
}

}  // namespace
