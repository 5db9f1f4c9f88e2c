#include "publish/UnitXML.h"
#include "publish/BuiltText.h"
#include "publish/IndexWriter.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/TestTree.h"

namespace {

using testing_tree::LocalMoment;

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"Shift-JIS\"?>\r\n";

class UnitXMLTest : public ::testing::Test {
protected:
  TScopedTimeZone Zone{"JST-9"};
  testing_tree::TScopedCodePage CodePage{platform::TCodePage::Utf8};
  testing_tree::TTempTree Tree;

  // The document parsed back with libxml2 and written as one line per element, indented by
  // depth: the element name, then each namespace declaration as prefix=value (UTF-8). It is
  // read as code page 932, as Windows clients read "Shift-JIS": a strict JIS X 0201 reading
  // would turn every "\" of the names into a yen sign. (Values that are no URI draw a namespace
  // warning, which is no fault of the document.)
  static std::string Outline(const std::string& document) {
    const std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
        xmlReadMemory(document.data(), static_cast<int>(document.size()), "index.xml", "CP932",
                      XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOWARNING | XML_PARSE_NOERROR),
        xmlFreeDoc);
    if (!doc) return "not well-formed";
    std::string outline;
    AddOutline(xmlDocGetRootElement(doc.get()), 0, outline);
    return outline;
  }

private:
  static void AddOutline(const xmlNode* node, int depth, std::string& outline) {
    outline.append(depth * 2, ' ');
    outline += reinterpret_cast<const char*>(node->name);
    for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next)
      outline += std::string(" ") + reinterpret_cast<const char*>(ns->prefix) + "=" +
                 reinterpret_cast<const char*>(ns->href);
    outline += "\n";
    for (const xmlNode* child = node->children; child != nullptr; child = child->next)
      if (child->type == XML_ELEMENT_NODE) AddOutline(child, depth + 1, outline);
  }
};

// The documented example, byte for byte
TEST_F(UnitXMLTest, WritesTheExampleDocument) {
  Tree.File("a.txt", std::string(1234, 'x'), LocalMoment(2004, 6, 19, 22, 22, 17));
  Tree.Folder("docs");
  EXPECT_EQ(built_text::IndexText(Tree.Path() + "/", 0),
            std::string(kDeclaration) +
                "<Project_File_Information>"
                "<File xmlns:Name=\"\\a.txt\" xmlns:LastUpdate=\"819180232\" xmlns:Size=\"1234\"/>"
                "<Folder xmlns:Name=\"docs\"/>"
                "</Project_File_Information>\r\n");
}

TEST_F(UnitXMLTest, AnEmptyOrMissingFolderGivesAnEmptyRoot) {
  const std::string empty = std::string(kDeclaration) + "<Project_File_Information/>\r\n";
  EXPECT_EQ(built_text::IndexText(Tree.Path(), 0), empty);
  EXPECT_EQ(built_text::IndexText(Tree.At("missing/"), 0), empty);
}

// The walk: nesting, hidden entries, packed-range clamping, 64-bit sizes
TEST_F(UnitXMLTest, WalksTheWholeTreeWithRelativeNames) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.Folder("sub/deep");
  Tree.File("sub/deep/b.txt", "bb", moment);
  Tree.File("sub/.hidden", "", LocalMoment(1975, 1, 1, 0, 0, 0));
  Tree.File("z.bin", "", moment);
  ASSERT_EQ(truncate(Tree.At("z.bin").c_str(), 5368709121LL), 0);
  Tree.SetTime("z.bin", moment);
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path() + "/", 0)),
            "Project_File_Information\n"
            "  Folder Name=sub\n"
            "    File Name=\\sub\\.hidden LastUpdate=2162688 Size=0\n"
            "    Folder Name=deep\n"
            "      File Name=\\sub\\deep\\b.txt LastUpdate=819180232 Size=2\n"
            "  File Name=\\z.bin LastUpdate=819180232 Size=5368709121\n");
}

// Each folder is gone into once per document: a link back up the tree, or a second way to a
// folder already walked, is named where it is met but holds nothing there.
TEST_F(UnitXMLTest, GoesIntoEachFolderOnce) {
  Tree.Folder("sub");
  Tree.File("sub/a", "", LocalMoment(2004, 6, 19, 22, 22, 17));
  Tree.Link("sub/up", "..");
  Tree.Link("self", ".");
  Tree.Link("twin", "sub");
  Tree.Link("sub/twin", ".");
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path() + "/", 0)),
            "Project_File_Information\n"
            "  Folder Name=self\n"
            "  Folder Name=sub\n"
            "    File Name=\\sub\\a LastUpdate=819180232 Size=0\n"
            "    Folder Name=twin\n"
            "    Folder Name=up\n"
            "  Folder Name=twin\n");
}

// Regression: a chain of folders each linking twice to the next was walked 2^n times (a 22-deep
// chain gave a 1.2 GB document). Now each level costs one walk.
TEST_F(UnitXMLTest, ALinkWebIsWalkedOnceAFolder) {
  constexpr int kLevels = 22;
  std::string path = "L0";
  Tree.Folder(path);
  for (int i = 1; i < kLevels; ++i) {
    Tree.Folder("L" + std::to_string(i));
    Tree.Link("L" + std::to_string(i - 1) + "/a", "../L" + std::to_string(i));
    Tree.Link("L" + std::to_string(i - 1) + "/b", "../L" + std::to_string(i));
  }
  Tree.File("L" + std::to_string(kLevels - 1) + "/end.txt");
  for (const std::size_t helpers : {0u, 2u}) {
    SCOPED_TRACE(helpers);
    const std::string document = built_text::IndexText(Tree.At("L0/"), 0, helpers);
    EXPECT_LT(document.size(), 4096u);
    std::size_t ends = 0;
    for (std::size_t at = document.find("end.txt"); at != std::string::npos; at = document.find("end.txt", at + 1))
      ++ends;
    EXPECT_EQ(ends, 1u);
    // The second way to each level is named, empty.
    EXPECT_NE(document.find("<Folder xmlns:Name=\"a\"><Folder xmlns:Name=\"a\">"), std::string::npos);
    EXPECT_NE(document.find("<Folder xmlns:Name=\"b\"/>"), std::string::npos);
  }
}

// What a request could not be answered with stays out: with the default settings hidden
// entries and everything below them, special files always, read-only files when they are
// withheld, and entries whose status cannot be read.
TEST_F(UnitXMLTest, LeavesOutWhatARequestWouldNotServe) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.Folder(".ssh");
  Tree.Folder("sub");
  Tree.File(".ssh/id_rsa", "key", moment);
  Tree.File("sub/.env", "secret", moment);
  Tree.File("sub/ro.txt", "", moment);
  ASSERT_EQ(chmod(Tree.At("sub/ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(mkfifo(Tree.At("sub/pipe").c_str(), 0600), 0);
  Tree.Link("sub/dangling", "nowhere");
  Tree.Link("sub/keys", "../.ssh");  // a visible name for a hidden folder is an ordinary folder
  const std::uint32_t defaults = platform::faHidden | platform::faSysFile;
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), defaults)),
            "Project_File_Information\n"
            "  Folder Name=sub\n"
            "    Folder Name=keys\n"
            "      File Name=\\sub\\keys\\id_rsa LastUpdate=819180232 Size=3\n"
            "    File Name=\\sub\\ro.txt LastUpdate=819180232 Size=0\n");
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), defaults | platform::faReadOnly)),
            "Project_File_Information\n"
            "  Folder Name=sub\n"
            "    Folder Name=keys\n"
            "      File Name=\\sub\\keys\\id_rsa LastUpdate=819180232 Size=3\n");
}

// Regression: with read-only files withheld, a folder without write permission was left out
// whole, though its files were served. Read-only is a rule for files alone.
TEST_F(UnitXMLTest, AReadOnlyFolderStaysWithItsFiles) {
  Tree.Folder("locked");
  Tree.File("locked/a.txt", "a", LocalMoment(2004, 6, 19, 22, 22, 17));
  ASSERT_EQ(chmod(Tree.At("locked").c_str(), 0555), 0);
  const std::string document =
      built_text::IndexText(Tree.Path(), platform::faHidden | platform::faSysFile | platform::faReadOnly);
  ASSERT_EQ(chmod(Tree.At("locked").c_str(), 0755), 0);
  EXPECT_EQ(Outline(document),
            "Project_File_Information\n"
            "  Folder Name=locked\n"
            "    File Name=\\locked\\a.txt LastUpdate=819180232 Size=1\n");
}

// With the extension filter on, other files stay out at every depth; folders stay, so that what
// matches below them is reachable.
TEST_F(UnitXMLTest, TheExtensionFilterWithholdsOtherFiles) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.Folder("docs.bin");
  Tree.File("docs.bin/a.TXT", "", moment);
  Tree.File("docs.bin/b.txt.bak", "", moment);
  Tree.File("c.bin", "", moment);
  Tree.File("txt", "", moment);
  const TWithheldRule rule{0, true, "txt"};
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), rule)),
            "Project_File_Information\n"
            "  Folder Name=docs.bin\n"
            "    File Name=\\docs.bin\\a.TXT LastUpdate=819180232 Size=0\n");
}

// Names: Shift-JIS bytes, character references, replacement characters
TEST_F(UnitXMLTest, WritesJapaneseNamesInShiftJis) {
  Tree.Folder("\xE6\x97\xA5\xE6\x9C\xAC");                                           // 日本
  Tree.File("\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xA1\xA8.txt", "", LocalMoment(2004, 6, 19, 22, 22, 17));  // 表.txt
  const std::string document = built_text::IndexText(Tree.Path(), 0);
  EXPECT_NE(document.find("xmlns:Name=\"\\\x93\xFA\x96\x7B\\\x95\x5C.txt\""), std::string::npos);
  EXPECT_EQ(Outline(document),
            "Project_File_Information\n"
            "  Folder Name=\xE6\x97\xA5\xE6\x9C\xAC\n"
            "    File Name=\\\xE6\x97\xA5\xE6\x9C\xAC\\\xE8\xA1\xA8.txt LastUpdate=819180232 Size=0\n");
}

TEST_F(UnitXMLTest, ReadsShiftJisNamesOnAShiftJisSystem) {
  const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  Tree.File("\x93\xFA\x96\x7B.txt", "", LocalMoment(2004, 6, 19, 22, 22, 17));
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), 0)),
            "Project_File_Information\n"
            "  File Name=\\\xE6\x97\xA5\xE6\x9C\xAC.txt LastUpdate=819180232 Size=0\n");
}

TEST_F(UnitXMLTest, WritesWhatShiftJisCannotHoldAsReferences) {
  Tree.File("\xED\x95\x9C&<\".txt", "", LocalMoment(2004, 6, 19, 22, 22, 17));  // 한&<".txt
  const std::string document = built_text::IndexText(Tree.Path(), 0);
  EXPECT_NE(document.find("xmlns:Name=\"\\&#54620;&amp;&lt;&quot;.txt\""), std::string::npos);
  EXPECT_EQ(Outline(document),
            "Project_File_Information\n"
            "  File Name=\\\xED\x95\x9C&<\".txt LastUpdate=819180232 Size=0\n");
}

TEST_F(UnitXMLTest, ReplacesBytesThatAreNoCharacter) {
  Tree.File("bad\xFF.txt", "", LocalMoment(2004, 6, 19, 22, 22, 17));
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), 0)),
            "Project_File_Information\n"
            "  File Name=\\bad\xEF\xBF\xBD.txt LastUpdate=819180232 Size=0\n");
}

// Regression: a name with a control byte or U+FFFF made the whole document ill-formed.
TEST_F(UnitXMLTest, ReplacesCharactersXmlCannotCarry) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.File("a\x01\x1F.txt", "", moment);
  Tree.File("b\xEF\xBF\xBF\xEF\xBF\xBE\xEF\xBF\xBD.txt", "", moment);  // U+FFFF U+FFFE U+FFFD
  Tree.File("c\t.txt", "", moment);
  EXPECT_EQ(Outline(built_text::IndexText(Tree.Path(), 0)),
            "Project_File_Information\n"
            "  File Name=\\a\xEF\xBF\xBD\xEF\xBF\xBD.txt LastUpdate=819180232 Size=0\n"
            "  File Name=\\b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt LastUpdate=819180232 Size=0\n"
            "  File Name=\\c\t.txt LastUpdate=819180232 Size=0\n");
}

// The writer on its own, as the walk drives it
TEST_F(UnitXMLTest, TheWriterNestsFoldersAndClosesWhatIsOpen) {
  TBodySink sink(built_text::Space());
  TFileIndexWriter writer(sink);
  writer.StartFolder("a");
  writer.AddFile("\\a\\x", 1, -1);
  writer.StartFolder("b");
  writer.Finish();
  EXPECT_EQ(Outline(sink.Contents()),
            "Project_File_Information\n"
            "  Folder Name=a\n"
            "    File Name=\\a\\x LastUpdate=1 Size=-1\n"
            "    Folder Name=b\n");
}

// Parts written on their own land byte for byte where the document writer would have written
// their elements: after files, as the first child of the root, empty or nested, with names that
// need references, replacements and Shift-JIS bytes, from memory or from a temporary file.
TEST_F(UnitXMLTest, APartTakesThePlaceOfItsElements) {
  auto writeFolder = [](TFileIndexWriter& writer, const std::string& name, bool withFile) {
    writer.StartFolder(name);
    if (withFile) writer.AddFile("\\" + name + "\\\xED\x95\x9C&<\x01.txt", 819180232, 5);
    writer.EndFolder();
  };
  const std::string names[] = {"\xE6\x97\xA5\xE6\x9C\xAC", "a&b\"c", "bad\xFF", "empty"};
  TBodySink wholeSink(built_text::Space());
  TBodySink piecedSink(built_text::Space());
  TFileIndexWriter whole(wholeSink);
  TFileIndexWriter pieced(piecedSink);
  for (const std::string& name : names) {
    const bool withFile = name != "empty";
    writeFolder(whole, name, withFile);
    TBodySink partSink(built_text::Space(), name == "bad\xFF" ? 10 : kBodyMemoryLimit);
    TFileIndexWriter part(partSink, TFileIndexWriter::TKind::Part);
    writeFolder(part, name, withFile);
    part.Finish();
    pieced.AddPart(partSink);
    whole.AddFile("\\between", 1, 2);
    pieced.AddFile("\\between", 1, 2);
  }
  whole.Finish();
  pieced.Finish();
  EXPECT_EQ(piecedSink.Contents(), wholeSink.Contents());
}

// Regression guard for the walk shared between threads: the document is the same whoever walks
// which folder, with files between the folders, links back up and withheld folders among them.
TEST_F(UnitXMLTest, HelperThreadsLeaveTheDocumentAsItIs) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  for (int i = 0; i < 12; ++i) {
    const std::string folder = "d" + std::to_string(i) + (i % 3 == 0 ? "\xE6\x97\xA5" : "");
    Tree.Folder(folder + "/inner/deep");
    Tree.File(folder + "/f.txt", std::string(static_cast<std::size_t>(i), 'x'), moment);
    Tree.File(folder + "/inner/deep/g.txt", "", moment);
    Tree.File("file" + std::to_string(i) + ".txt", "", moment);
  }
  Tree.Folder(".hidden/inside");
  Tree.Link("d1/inner/up", "../..");
  Tree.Link("self", ".");
  const std::uint32_t defaults = platform::faHidden | platform::faSysFile;
  const std::string alone = built_text::IndexText(Tree.Path(), defaults, 0);
  ASSERT_NE(alone.find("\\d11\\inner\\deep\\g.txt"), std::string::npos);
  EXPECT_EQ(alone.find(".hidden"), std::string::npos);
  for (const std::size_t helpers : {1u, 2u, 3u}) {
    SCOPED_TRACE(helpers);
    EXPECT_EQ(built_text::IndexText(Tree.Path(), defaults, helpers), alone);
  }
}

// Two ways into one folder from different parts: whichever thread walks which part first, the
// first way in document order holds the folder's entries and the later ones name it only.
TEST_F(UnitXMLTest, AFolderSharedByPartsIsWalkedWhereTheDocumentFirstMeetsIt) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  Tree.Folder("shared/inner");
  Tree.File("shared/inner/x.txt", "", moment);
  for (const char* name : {"a", "b", "c", "d"}) {
    Tree.Folder(name);
    Tree.Link(std::string(name) + "/to-inner", "../shared/inner");
  }
  Tree.Link("b/to-shared", "../shared");
  const std::string alone = built_text::IndexText(Tree.Path(), 0, 0);
  EXPECT_EQ(Outline(alone),
            "Project_File_Information\n"
            "  Folder Name=a\n"
            "    Folder Name=to-inner\n"
            "      File Name=\\a\\to-inner\\x.txt LastUpdate=819180232 Size=0\n"
            "  Folder Name=b\n"
            "    Folder Name=to-inner\n"
            "    Folder Name=to-shared\n"
            "      Folder Name=inner\n"
            "  Folder Name=c\n"
            "    Folder Name=to-inner\n"
            "  Folder Name=d\n"
            "    Folder Name=to-inner\n"
            "  Folder Name=shared\n");
  for (int round = 0; round < 20; ++round) {
    for (const std::size_t helpers : {1u, 2u, 4u}) {
      SCOPED_TRACE(helpers);
      ASSERT_EQ(built_text::IndexText(Tree.Path(), 0, helpers), alone);
    }
  }
}

// A large document goes to a temporary file, and so do its large parts; the bytes are those of
// the build held in memory.
TEST_F(UnitXMLTest, ASpilledIndexHoldsTheSameBytes) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  for (int i = 0; i < 200; ++i)
    Tree.File("d" + std::to_string(i % 4) + "-file-" + std::to_string(i) + ".txt", "", moment);
  for (int i = 0; i < 4; ++i) {
    Tree.Folder("d" + std::to_string(i));
    for (int j = 0; j < 50; ++j) Tree.File("d" + std::to_string(i) + "/\xE6\x97\xA5" + std::to_string(j), "", moment);
  }
  const std::string inMemory = built_text::IndexText(Tree.Path(), 0, 2);
  for (const std::size_t limit : {std::size_t{1}, std::size_t{4000}, inMemory.size() - 1}) {
    SCOPED_TRACE(limit);
    TBodySink sink(built_text::Space(), limit);
    BuildFileIndex(sink, Tree.Path(), TWithheldRule{0, false, ""}, 2);
    EXPECT_TRUE(sink.Spilled());
    EXPECT_EQ(sink.Contents(), inMemory);
  }
}

// The document reaches the result in many pieces: across them the writer's two line ends still
// come out as CR LF and nothing else does; line breaks inside names go out as references.
TEST_F(UnitXMLTest, EndsOnlyTheWritersLinesWithCrLfAcrossAWholeLargeDocument) {
  const std::time_t moment = LocalMoment(2004, 6, 19, 22, 22, 17);
  for (int i = 0; i < 300; ++i) Tree.File("file-with-a-long-name-" + std::to_string(1000 + i) + ".txt", "", moment);
  Tree.File("line\nbreak\r.txt", "", moment);
  const std::string document = built_text::IndexText(Tree.Path(), 0);
  ASSERT_GT(document.size(), 20000u);
  EXPECT_EQ(document.find('\n'), std::string(kDeclaration).size() - 1);
  EXPECT_EQ(document.find('\n', std::string(kDeclaration).size()), document.size() - 1);
  EXPECT_EQ(document.substr(document.size() - 29), "</Project_File_Information>\r\n");
  EXPECT_NE(document.find("xmlns:Name=\"\\line&#10;break&#13;.txt\""), std::string::npos);
  EXPECT_NE(document.find("xmlns:Name=\"\\file-with-a-long-name-1299.txt\" xmlns:LastUpdate=\"819180232\""),
            std::string::npos);
}

}  // namespace
