// The request handler behind a real server on loopback: what each request gets, and what the
// log shows.

#include "publish/RequestHandler.h"
#include "publish/TestSettings.h"
#include "publish/BuiltText.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <mutex>
#include <set>
#include <vector>

#include "http/net/IdException.h"
#include "http/protocol/IdHTTPServer.h"
#include "http/server/IdPeerThread.h"
#include "platform/TestTree.h"
#include "publish/ListingPage.h"
#include "publish/UnitXML.h"
#include "support/HttpExchange.h"
#include "support/WithoutFileOverride.h"

namespace {

using testhttp::Exchange;
using testhttp::Head;
using testhttp::Request;

const char kNotFoundPage[] =
    "<html><head><title>\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\x8C\xE8\xA6\x8B\xE3\x81\xA4\xE3\x81"
    "\x8B\xE3\x82\x8A\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\xE3\x80\x82</title></head><body><h1>Not Found</h1></body>"
    "</html>";
const char kPageType[] = "text/html; charset=UTF-8";

class TTestLog : public ILogSink {
public:
  void AppendLine(const std::string& line) override {
    std::lock_guard<std::mutex> lock(FLock);
    FLines.push_back(line);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FLines;
  }

private:
  mutable std::mutex FLock;
  std::vector<std::string> FLines;  // guarded by FLock
};

// A server that can disturb a file between the handler's checks and the sending.
class TTestServer : public TIdHTTPServer {
public:
  std::function<void(const std::string&)> BeforeSend;
  using TIdHTTPServer::SendFileResponse;
  std::int64_t SendFileResponse(TIdPeerThread& thread, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                                const std::string& fileName) override {
    if (BeforeSend) BeforeSend(fileName);
    return TIdHTTPServer::SendFileResponse(thread, request, response, fileName);
  }
};

class RequestHandlerTest : public ::testing::Test {
protected:
  explicit RequestHandlerTest(TAnswerLimits limits = {})
      : Handler(Server, Settings, Log, MimeTypes, platform::TRegionalFormats{}, limits) {
    Root = Tree.Folder("pub");
    TPublishSettings settings;
    settings.Root = Root;
    Settings.Set(settings);
    TIdSocketHandle& binding = Server.Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = 0;
    Server.OnCommandGet = [this](TIdPeerThread& t, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
      Handler.httpdCommandGet(t, rq, rs);
    };
  }
  ~RequestHandlerTest() override { Server.SetActive(false); }

  void SetUp() override {
    Server.SetActive(true);
    Port = Server.Bindings()[0].Port;
  }
  void Change(const std::function<void(TPublishSettings&)>& change) {
    TPublishSettings settings = Settings.Snapshot();
    change(settings);
    Settings.Set(settings);
  }
  testhttp::TAnswer Get(const std::string& target, const std::string& headers = "") {
    return Exchange(Port, Request("GET", target, headers));
  }
  testhttp::TAnswer HeadOf(const std::string& target, const std::string& headers = "") {
    return Exchange(Port, Request("HEAD", target, headers));
  }
  bool NotFound(const testhttp::TAnswer& answer) {
    return answer.Head == Head("HTTP/1.1 404 Not Found", kPageType, sizeof kNotFoundPage - 1) &&
           answer.Body == kNotFoundPage;
  }
  // Whether the HEAD of target gets exactly the head of its GET, and no body.
  bool HeadIsGetsHead(const std::string& target, const std::string& headers = "") {
    const auto get = Get(target, headers);
    const auto head = HeadOf(target, headers);
    EXPECT_EQ(head.Head, get.Head);
    EXPECT_EQ(head.Body, "");
    return !get.Head.empty() && head.Head == get.Head && head.Body.empty();
  }

  TScopedTimeZone Zone{"UTC"};
  testing_tree::TScopedCodePage CodePage{platform::TCodePage::Utf8};
  testing_tree::TTempTree Tree;
  std::string Root;
  TTestSettings Settings;
  TTestLog Log;
  TIdMimeTable MimeTypes{true, "/nonexistent/mime.types"};
  TTestServer Server;
  TRequestHandler Handler;
  int Port = 0;
};

// The names in a tar of short ASCII names, as its headers give them (extended headers skipped).
std::set<std::string> TarNames(const std::string& tar) {
  std::set<std::string> names;
  for (std::size_t at = 0; at + 512 <= tar.size();) {
    const std::string name = tar.substr(at, 100).c_str();
    if (name.empty()) break;
    if (tar[at + 156] != 'x') names.insert(name);
    const long long size = std::stoll(tar.substr(at + 124, 12), nullptr, 8);
    at += 512 + static_cast<std::size_t>((size + 511) / 512 * 512);
  }
  return names;
}

std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::size_t start = head.find("\r\n" + name + ": ");
  if (start == std::string::npos) return "";
  const std::size_t value = start + name.size() + 4;
  return head.substr(value, head.find("\r\n", value) - value);
}

// Folders
TEST_F(RequestHandlerTest, ListsFoldersWithTheirCharacterSet) {
  Tree.Folder("pub/sub");
  Tree.File("pub/sub/a.txt", "abc");
  const std::string page = built_text::ListingText(Root + "/sub/", Settings.Snapshot(), {});
  for (const char* target : {"/sub/", "/sub/../sub/", "/sub/?x=1"}) {
    SCOPED_TRACE(target);
    const auto answer = Get(target);
    EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", kPageType, static_cast<long long>(page.size())));
    EXPECT_EQ(answer.Body, page);
  }
  // A listing is built afresh every time: it has no range and no date to revalidate.
  EXPECT_EQ(Get("/sub/", "Range: bytes=0-9\r\nIf-Modified-Since: Fri, 1 Jan 2100 00:00:00 GMT\r\n").Body, page);
}

// Regression: a folder requested without its "/" was listed under that URL, so browsers resolved
// its links one folder too high and fetched the wrong file or a 404.
TEST_F(RequestHandlerTest, AFolderWithoutItsSlashIsRedirectedToIt) {
  const std::string japanese = "\xE5\x86\x99\xE7\x9C\x9F & <#%+;>";  // 写真 and characters URLs reserve
  Tree.Folder("pub/sub/deeper");
  Tree.Folder("pub/" + japanese);
  Tree.Folder("pub/\xFF");
  struct Case {
    const char* target;
    std::string location;
  };
  const Case cases[] = {
      {"/sub", "/sub/"},
      {"/sub/deeper", "/sub/deeper/"},
      {"/sub?a=1&b=%41", "/sub/?a=1&b=%41"},  // the query as it came
      {"/%E5%86%99%E7%9C%9F%20%26%20%3C%23%25%2B%3B%3E", "/%E5%86%99%E7%9C%9F%20%26%20%3C%23%25%2B%3B%3E/"},
      {"/%E5%86%99%E7%9C%9F+&+<%23%25%2B;>?q=\"x y\"", "/%E5%86%99%E7%9C%9F%20%26%20%3C%23%25%2B%3B%3E/?q=%22x%20y%22"},
      {"/%FF", "/%FF/"},
  };
  const std::string page = "<HTML><BODY><B>301 Moved Permanently</B></BODY></HTML>";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const auto answer = Get(c.target);
    // On the server the client named in its Host line.
    EXPECT_EQ(answer.Head, Head("HTTP/1.1 301 Moved Permanently", "text/html", static_cast<long long>(page.size()),
                                "Location: http://127.0.0.1" + c.location + "\r\n"));
    EXPECT_EQ(answer.Body, page);
    // The place it points to is the folder's listing.
    EXPECT_EQ(Get(c.location).Head.rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u) << c.location;
  }
  // However the path is written, the redirect names the folder on this server.
  for (const char* target : {"/%2Fevil.example%2F..", "//evil.example/..", "/\\evil.example/..", "/%5Cevil.example%2F.."}) {
    SCOPED_TRACE(target);
    EXPECT_NE(Get(target).Head.find("\r\nLocation: http://127.0.0.1/\r\n"), std::string::npos);
  }
  // The root, the index and files are not redirected; withheld folders stay not found.
  Tree.File("pub/sub/f", "F");
  Tree.Folder("pub/.git");
  EXPECT_EQ(Get("/").Head.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Get("/sub/index.xml").Head.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Get("/sub/f").Body, "F");
  EXPECT_TRUE(NotFound(Get("/.git")));
  EXPECT_EQ(Log.Lines().size(), 2 * std::size(cases) + 8);  // every request logged once
}

// The redirect keeps the Host the client used, an IPv6 literal's brackets and the port with it;
// a Host that names no server (or tries to bring a path, a user or a second line) is left out.
TEST_F(RequestHandlerTest, RedirectsKeepTheHostTheClientUsed) {
  Tree.Folder("pub/sub");
  struct Case {
    const char* host;
    const char* location;
  };
  const Case cases[] = {
      {"[::1]:8080", "http://[::1]:8080/sub/"},
      {"[2001:db8::7]", "http://[2001:db8::7]/sub/"},
      {"192.0.2.7:8080", "http://192.0.2.7:8080/sub/"},
      {"nas.local", "http://nas.local/sub/"},
      {"::1", "/sub/"},
      {"[::1", "/sub/"},
      {"[fe80::1%eth0]", "/sub/"},
      {"[::1]x", "/sub/"},
      {"evil.example/x", "/sub/"},
      {"user@evil.example", "/sub/"},
      {"a b", "/sub/"},
      {"host:80:80", "/sub/"},
      {"host:123456", "/sub/"},
      {"host:", "/sub/"},
      {"-host", "/sub/"},
      {"", "/sub/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    const auto answer = Exchange(Port, "GET /sub HTTP/1.1\r\nHost: " + std::string(c.host) + "\r\n\r\n");
    EXPECT_EQ(HeaderValue(answer.Head, "Location"), c.location);
  }
  // An absolute target without a Host line: its authority is the host, port and brackets kept.
  EXPECT_EQ(HeaderValue(Exchange(Port, "GET http://[::1]:8080/sub HTTP/1.0\r\n\r\n").Head, "Location"),
            "http://[::1]:8080/sub/");
}

TEST(RequestHandler, FolderLocationEncodesAsTheListingLinks) {
  EXPECT_EQ(FolderLocation("/a b/c", ""), "/a%20b/c/");
  EXPECT_EQ(FolderLocation("/a#b?c/%d", ""), "/a%23b%3Fc/%25d/");
  EXPECT_EQ(FolderLocation("/\xE6\x97\xA5", "x=1"), "/%E6%97%A5/?x=1");
  EXPECT_EQ(FolderLocation("/\xFF", ""), "/%FF/");
  EXPECT_EQ(FolderLocation("/a", "q=a b\"\xC3\xA9<%2F>"), "/a/?q=a%20b%22%C3%A9%3C%2F%3E");
}

// Regression: "/%2Fevil.example%2F.." was redirected to "//evil.example/../", which browsers
// read as another server.
TEST(RequestHandler, FolderLocationStaysOnThisServer) {
  struct Case {
    const char* document;
    const char* location;
  };
  const Case cases[] = {
      {"//evil.example/..", "/"},
      {"//evil.example", "/evil.example/"},
      {"/\\evil.example/..", "/"},
      {"/\\evil.example", "/evil.example/"},
      {"\\evil.example\\x", "/evil.example/x/"},
      {"///a//b/./c/../", "/a/b/"},
      {"/a/../../..", "/"},
      {"/http:/evil.example", "/http%3A/evil.example/"},
      {"/a\\b", "/a/b/"},
      {"", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(FolderLocation(c.document, ""), c.location);
  }
  // Code-page bytes: the trail byte 0x5C of a Shift-JIS character is no separator.
  testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  EXPECT_EQ(FolderLocation("/\x95\x5C//x", ""), "/%95%5C/x/");
}

TEST_F(RequestHandlerTest, ShiftJisSystemLabelsItsPages) {
  testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  EXPECT_NE(Get("/").Head.find("Content-Type: text/html; charset=Shift_JIS\r\n"), std::string::npos);
  EXPECT_NE(Get("/none").Head.find("Content-Type: text/html; charset=Shift_JIS\r\n"), std::string::npos);
}

// Files
TEST_F(RequestHandlerTest, FilesAreSentWholeWithTheirTypeDateAndRangeUnit) {
  const std::string content(32769, 'z');
  Tree.File("pub/f.txt", content, 1087651337);
  const auto answer = Get("/f.txt");
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", "text/plain", 32769,
                              "Accept-Ranges: bytes\r\nLast-Modified: Sat, 19 Jun 2004 13:22:17 GMT\r\n"
                              "Content-Disposition: inline; filename=\"f.txt\"; filename*=UTF-8''f.txt\r\n"));
  EXPECT_EQ(answer.Body, content);
  EXPECT_EQ(Get("/f.txt", "Range: bytes=-2\r\n").Body, "zz");
}

// Regression: a HEAD got the listing or the not-found page as a body after its head.
TEST_F(RequestHandlerTest, HeadCarriesTheHeadOfGetForEveryAnswer) {
  Tree.Folder("pub/sub");
  Tree.File("pub/f.txt", "content", 1087651337);
  Tree.File("pub/.hidden", "h");
  struct Case {
    const char* target;
    const char* headers;
  };
  const Case cases[] = {
      {"/", ""},                                                                   // listing
      {"/index.xml", ""},                                                          // index
      {"/nosuch", ""},                                                             // not found
      {"/.hidden", "Range: bytes=0-0\r\n"},                                        // withheld first
      {"/sub", ""},                                                                // redirect
      {"/f.txt", ""},                                                              // file
      {"/f.txt", "Range: bytes=1-3\r\n"},                                          // part
      {"/f.txt", "Range: bytes=50-\r\n"},                                          // unsatisfiable
      {"/f.txt", "If-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT\r\n"},         // unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " " + c.headers);
    EXPECT_TRUE(HeadIsGetsHead(c.target, c.headers));
  }
  Change([](TPublishSettings& s) {
    s.UserName = "u";
    s.Password = "p";
  });
  EXPECT_TRUE(HeadIsGetsHead("/f.txt", "Range: bytes=1-3\r\n"));  // the challenge comes first
  EXPECT_EQ(Get("/f.txt", "Range: bytes=1-3\r\n").Head.rfind("HTTP/1.1 401 Unauthorized", 0), 0u);
}

TEST_F(RequestHandlerTest, WithheldAndSpecialFilesAreNotFound) {
  Tree.File("pub/.hidden", "h");
  const std::string readOnly = Tree.File("pub/ro.txt", "r");
  ::chmod(readOnly.c_str(), 0444);
  ASSERT_EQ(::mkfifo(Tree.At("pub/fifo").c_str(), 0600), 0);
  EXPECT_TRUE(NotFound(Get("/.hidden")));
  EXPECT_EQ(Get("/ro.txt").Body, "r");
  EXPECT_TRUE(NotFound(Get("/fifo")));
  Change([](TPublishSettings& s) {
    s.ExcludeReadOnly = true;
    s.ExcludeHidden = false;
    s.ExcludeSystem = false;
  });
  EXPECT_TRUE(NotFound(Get("/ro.txt")));
  EXPECT_EQ(Get("/.hidden").Body, "h");
  // Reading a FIFO would hold the connection thread: never opened, whatever the settings.
  EXPECT_TRUE(NotFound(Get("/fifo")));
  EXPECT_TRUE(HeadIsGetsHead("/fifo"));
  // Nor put into the folder's archive, which it would hold up the same way.
  const std::set<std::string> names = TarNames(Get("/?tar").Body);
  EXPECT_EQ(names.count("pub/fifo"), 0u);
  EXPECT_EQ(names.count("pub/.hidden"), 1u);
}

TEST_F(RequestHandlerTest, AFileGoneBeforeSendingIsNotFound) {
  Tree.File("pub/gone.txt", "x");
  Tree.File("pub/late.txt", "y");
  Server.BeforeSend = [](const std::string& fileName) {
    if (fileName.ends_with("gone.txt")) std::remove(fileName.c_str());
    if (fileName.ends_with("late.txt")) {
      std::remove(fileName.c_str());
      ::mkfifo(fileName.c_str(), 0600);  // a file swapped for a FIFO
    }
  };
  EXPECT_TRUE(NotFound(Get("/gone.txt")));
  EXPECT_TRUE(NotFound(Get("/late.txt")));
  EXPECT_EQ(Log.Lines().size(), 2u);  // the request lines, and no error
}

TEST_F(RequestHandlerTest, AFailureBeforeAFilesHeadIsA500) {
  Tree.File("pub/f.txt", "x");
  Server.BeforeSend = [](const std::string&) { throw EIdFailedToRetreiveTimeZoneInfo(); };
  const std::string page = "<HTML><BODY><B>500 Internal Server Error</B></BODY></HTML>";
  const auto answer = Get("/f.txt");
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 500 Internal Server Error", "text/html", static_cast<long long>(page.size())));
  EXPECT_EQ(answer.Body, page);
}

// Regression: a file that could not be read was answered 200 with no length and no body, so
// download tools reported success and left an empty file; its HEAD got a 500 whose body showed
// the absolute server path.
TEST_F(RequestHandlerTest, AFileThatCannotBeReadIsForbidden) {
  const std::string locked = Tree.File("pub/locked.txt", "secret");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  Server.SetActive(false);
  testfiles::RunBoundByPermissions([this] { Server.SetActive(true); });
  Port = Server.Bindings()[0].Port;
  const std::string page = "<HTML><BODY><B>403 Forbidden</B></BODY></HTML>";
  const auto answer = Get("/locked.txt");
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 403 Forbidden", "text/html", static_cast<long long>(page.size())));
  EXPECT_EQ(answer.Body, page);
  EXPECT_TRUE(HeadIsGetsHead("/locked.txt"));
  // Left out of the folder's archive, which would otherwise break off at it every time.
  const auto tar = Get("/?tar");
  EXPECT_EQ(TarNames(tar.Body), std::set<std::string>{"pub/"});
  EXPECT_EQ(HeaderValue(tar.Head, "Content-Length"), std::to_string(tar.Body.size()));
}

// Regression: only the last segment of a path was tested, and folders never, so /.ssh/id_rsa and
// /.git/config were served and /.git/ was listed with the default settings.
TEST_F(RequestHandlerTest, HiddenFoldersAreWithheldWithEverythingInThem) {
  Tree.Folder("pub/.ssh");
  Tree.Folder("pub/a/.hidden");
  Tree.Folder("pub/.git/objects");
  Tree.File("pub/.ssh/id_rsa", "KEY");
  Tree.File("pub/a/.hidden/b.txt", "B");
  Tree.File("pub/.git/config", "CONFIG");
  for (const char* target : {"/.ssh/id_rsa", "/a/.hidden/b.txt", "/.git/config", "/.git/", "/.git", "/.git/objects/",
                             "/a/.hidden/", "/.git/index.xml", "/a/.hidden/index.xml", "/.ssh/../.ssh/id_rsa"}) {
    SCOPED_TRACE(target);
    EXPECT_TRUE(NotFound(Get(target)));
  }
  const std::string index = Get("/index.xml").Body;
  EXPECT_EQ(index.find("ssh"), std::string::npos);
  EXPECT_EQ(index.find("git"), std::string::npos);
  EXPECT_EQ(index.find("hidden"), std::string::npos);
  Change([](TPublishSettings& s) { s.ExcludeHidden = false; });
  EXPECT_EQ(Get("/.ssh/id_rsa").Body, "KEY");
  EXPECT_NE(Get("/.git/").Body.find("config"), std::string::npos);
}

TEST_F(RequestHandlerTest, ARootInsideADotFolderIsPublished) {
  Tree.Folder(".config/share");
  Tree.File(".config/share/a.txt", "A");
  Change([this](TPublishSettings& s) { s.Root = Tree.At(".config/share"); });
  EXPECT_EQ(Get("/a.txt").Body, "A");
  EXPECT_NE(Get("/").Body.find("a.txt"), std::string::npos);
}

// Regression: a target that was not well-formed UTF-8 was answered with the root's listing.
TEST_F(RequestHandlerTest, ATargetThatIsNoUtf8NamesTheEntryOfThoseBytes) {
  Tree.File("pub/\xFF.bin", "raw");
  // The listing links the name by its bytes, and the link serves the file.
  ASSERT_NE(Get("/").Body.find("<A HREF=\"./%FF.bin\">"), std::string::npos);
  EXPECT_EQ(Get("/%FF.bin").Body, "raw");
  EXPECT_TRUE(NotFound(Get("/%FE")));
  EXPECT_TRUE(NotFound(Get("/%C3")));
}

// The XML index
TEST_F(RequestHandlerTest, IndexOfAFolderThatHasNoIndexFile) {
  Tree.File("pub/a.txt", "a");
  auto answer = Get("/index.xml");
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", "application/xml", static_cast<long long>(answer.Body.size())));
  EXPECT_EQ(answer.Body, built_text::IndexText(Root + "/", 0));
  EXPECT_EQ(Get("/nosuch/index.xml").Body, built_text::IndexText(Root + "/nosuch/", 0));
  EXPECT_TRUE(NotFound(Get("/INDEX.XML")));  // the name is compared with case
  Tree.File("pub/index.xml", "<mine/>");
  EXPECT_EQ(Get("/index.xml").Body, "<mine/>");
}

// Regression: with the extension filter on, only the listing left other files out; they were
// still served and indexed. They are withheld like hidden files now, on every route.
TEST_F(RequestHandlerTest, TheExtensionFilterWithholdsOtherFilesOnEveryRoute) {
  Tree.File("pub/a.txt", "a");
  Tree.File("pub/b.bin", "b");
  Tree.Folder("pub/sub.bin");
  Tree.File("pub/sub.bin/c.TXT", "c");
  Tree.File("pub/sub.bin/index.xml", "<mine/>");
  Change([](TPublishSettings& s) {
    s.ExtensionFilter = true;
    s.Extension = "txt";
  });
  EXPECT_TRUE(NotFound(Get("/b.bin")));
  EXPECT_TRUE(NotFound(Get("/b.bin", "Range: bytes=0-0\r\n")));
  EXPECT_TRUE(HeadIsGetsHead("/b.bin"));
  EXPECT_EQ(Get("/a.txt").Body, "a");
  EXPECT_EQ(Get("/sub.bin/c.TXT").Body, "c");
  EXPECT_NE(Get("/sub.bin/").Body.find("c.TXT"), std::string::npos);
  // A real index.xml is a file like any other; the built index names only what is served.
  EXPECT_TRUE(NotFound(Get("/sub.bin/index.xml")));
  const std::string index = Get("/index.xml").Body;
  EXPECT_NE(index.find("\\a.txt"), std::string::npos);
  EXPECT_NE(index.find("\\sub.bin\\c.TXT"), std::string::npos);
  EXPECT_EQ(index.find("\\b.bin"), std::string::npos);
  EXPECT_EQ(index.find("index.xml"), std::string::npos);
}

// Regression: index.xml left out a folder without write permission when read-only files were
// withheld, though the folder was listed and its files served.
TEST_F(RequestHandlerTest, AReadOnlyFolderIsServedOnEveryRoute) {
  Tree.Folder("pub/locked");
  Tree.File("pub/locked/a.txt", "a");
  ASSERT_EQ(::chmod(Tree.At("pub/locked").c_str(), 0555), 0);
  Change([](TPublishSettings& s) { s.ExcludeReadOnly = true; });
  const auto listing = Get("/locked/");
  const auto file = Get("/locked/a.txt");
  const auto index = Get("/index.xml");
  ::chmod(Tree.At("pub/locked").c_str(), 0755);
  EXPECT_NE(listing.Body.find("a.txt"), std::string::npos);
  EXPECT_EQ(file.Body, "a");
  EXPECT_NE(index.Body.find("\\locked\\a.txt"), std::string::npos);
}

// Answers built past their memory share: sent from a temporary file, byte for byte and with the
// head of the answer built in memory.
class RequestHandlerSpillTest : public RequestHandlerTest {
protected:
  RequestHandlerSpillTest() : RequestHandlerTest(Limits()) {}
  static TAnswerLimits Limits() {
    TAnswerLimits limits;
    limits.BodyMemory = 100;
    limits.TempSpace = 100000;
    return limits;
  }
};

TEST_F(RequestHandlerSpillTest, LargeAnswersLeaveFromATemporaryFileUnchanged) {
  for (int i = 0; i < 40; ++i) Tree.File("pub/file-" + std::to_string(i) + ".txt", "x");
  Tree.Folder("pub/sub");
  Tree.File("pub/sub/a.txt", "a");
  const std::string listing = built_text::ListingText(Root, Settings.Snapshot(), {});
  const std::string index = built_text::IndexText(Root + "/", platform::faHidden | platform::faSysFile);
  ASSERT_GT(listing.size(), 1000u);
  const auto listed = Get("/");
  EXPECT_EQ(listed.Head, Head("HTTP/1.1 200 OK(&O)", kPageType, static_cast<long long>(listing.size())));
  EXPECT_EQ(listed.Body, listing);
  const auto indexed = Get("/index.xml");
  EXPECT_EQ(indexed.Head, Head("HTTP/1.1 200 OK(&O)", "application/xml", static_cast<long long>(index.size())));
  EXPECT_EQ(indexed.Body, index);
  EXPECT_TRUE(HeadIsGetsHead("/"));
  EXPECT_TRUE(HeadIsGetsHead("/index.xml"));
}

// Past the temporary space, and when no build may start, the client is asked to come back.
TEST_F(RequestHandlerSpillTest, AnAnswerPastTheTemporarySpaceIsBusy) {
  for (int i = 0; i < 2000; ++i) Tree.File("pub/a-long-name-for-a-file-" + std::to_string(i) + ".txt", "x");
  Tree.File("pub/small.txt", "s");
  const auto busy = Get("/index.xml");
  EXPECT_EQ(busy.Head, "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Type: text/html\r\n"
                       "Content-Length: 56\r\nServer: Velmora/1.0\r\nRetry-After: 1\r\n\r\n");
  EXPECT_EQ(busy.Body, "<HTML><BODY><B>503 Service Unavailable</B></BODY></HTML>");
  EXPECT_EQ(Get("/small.txt").Body, "s");
}

class RequestHandlerBusyTest : public RequestHandlerTest {
protected:
  RequestHandlerBusyTest() : RequestHandlerTest(Limits()) {}
  static TAnswerLimits Limits() {
    TAnswerLimits limits;
    limits.Builds.Running = 0;
    limits.Builds.Waiting = 1;
    limits.Builds.MaxWait = std::chrono::milliseconds(20);
    return limits;
  }
};

TEST_F(RequestHandlerBusyTest, NoBuildSlotMeansComeBackShortly) {
  Tree.File("pub/a.txt", "a");
  for (const char* target : {"/", "/index.xml", "/?zip", "/?browse", "/?json"}) {
    SCOPED_TRACE(target);
    const auto answer = Get(target);
    EXPECT_EQ(answer.Head.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u);
    EXPECT_NE(answer.Head.find("\r\nRetry-After: 1\r\n"), std::string::npos);
    EXPECT_TRUE(HeadIsGetsHead(target));
  }
  EXPECT_EQ(Get("/a.txt").Body, "a");  // files are never built: always served
}

// Folder archives

TEST_F(RequestHandlerTest, AFolderArchiveHoldsWhatItsIndexHolds) {
  Tree.File("pub/a.txt", "a");
  Tree.File("pub/b.bin", "b");
  Tree.Folder("pub/empty");
  Tree.Folder("pub/sub/.hidden");
  Tree.File("pub/sub/c.txt", "c");
  Tree.File("pub/sub/.hidden/d.txt", "d");
  Tree.Folder("pub/.ssh");
  Tree.File("pub/.ssh/id_rsa", "KEY");
  Change([](TPublishSettings& s) {
    s.ExtensionFilter = true;
    s.Extension = "txt";
  });
  const auto tar = Get("/?tar");
  EXPECT_EQ(tar.Head.rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(HeaderValue(tar.Head, "Content-Type"), "application/x-tar");
  EXPECT_EQ(HeaderValue(tar.Head, "Content-Length"), std::to_string(tar.Body.size()));
  EXPECT_EQ(HeaderValue(tar.Head, "Content-Disposition"), "attachment; filename=\"pub.tar\"; filename*=UTF-8''pub.tar");
  EXPECT_EQ(HeaderValue(tar.Head, "Accept-Ranges"), "bytes");
  EXPECT_EQ(TarNames(tar.Body), (std::set<std::string>{"pub/", "pub/a.txt", "pub/empty/", "pub/sub/", "pub/sub/c.txt"}));
  EXPECT_TRUE(HeadIsGetsHead("/?tar"));

  const auto zip = Get("/sub/?zip");
  EXPECT_EQ(HeaderValue(zip.Head, "Content-Type"), "application/zip");
  EXPECT_EQ(HeaderValue(zip.Head, "Content-Disposition"), "attachment; filename=\"sub.zip\"; filename*=UTF-8''sub.zip");
  EXPECT_EQ(zip.Body.rfind("PK\x03\x04", 0), 0u);
  EXPECT_NE(zip.Body.find("sub/c.txt"), std::string::npos);
  EXPECT_EQ(zip.Body.find("hidden"), std::string::npos);
}

TEST_F(RequestHandlerTest, ArchiveRoutesAnswerAsTheListingWould) {
  Tree.File("pub/a.txt", "a");
  Tree.Folder("pub/sub");
  Tree.Folder("pub/.git");
  for (const char* target : {"/.git/?zip", "/.git?tar", "/nope/?zip"}) {
    SCOPED_TRACE(target);
    EXPECT_TRUE(NotFound(Get(target)));
  }
  EXPECT_EQ(HeaderValue(Get("/sub?zip").Head, "Location"), "http://127.0.0.1/sub/?zip");
  EXPECT_EQ(Get("/a.txt?zip").Body, "a");  // a file is no folder to pack
  for (const char* target : {"/sub/?zipx", "/sub/?zip=1", "/sub/?ZIP"}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(HeaderValue(Get(target).Head, "Content-Type"), kPageType);
  }
  Change([](TPublishSettings& s) {
    s.UserName = "user";
    s.Password = "Pass";
  });
  EXPECT_EQ(Get("/?zip").Head.rfind("HTTP/1.1 401 Unauthorized", 0), 0u);
  EXPECT_EQ(HeaderValue(Get("/?zip", "Authorization: Basic dXNlcjpQYXNz\r\n").Head, "Content-Type"), "application/zip");
}

TEST_F(RequestHandlerTest, AnArchiveResumesOnlyWhileNothingChanged) {
  Tree.File("pub/a.txt", std::string(5000, 'a'));
  Tree.File("pub/b.txt", "b");
  time_t touched = 1000000000;
  for (const char* format : {"/?zip", "/?tar"}) {
    SCOPED_TRACE(format);
    const auto whole = Get(format);
    const std::string tag = HeaderValue(whole.Head, "ETag");
    ASSERT_EQ(tag.front(), '"');
    const auto rest = Get(format, "Range: bytes=700-\r\nIf-Range: " + tag + "\r\n");
    EXPECT_EQ(rest.Head.rfind("HTTP/1.1 206 Partial Content", 0), 0u);
    EXPECT_EQ(HeaderValue(rest.Head, "Content-Range"),
              "bytes 700-" + std::to_string(whole.Body.size() - 1) + "/" + std::to_string(whole.Body.size()));
    EXPECT_EQ(rest.Body, whole.Body.substr(700));
    EXPECT_EQ(Get(format, "If-None-Match: " + tag + "\r\n").Head.rfind("HTTP/1.1 304", 0), 0u);
    EXPECT_EQ(Get(format, "Range: bytes=99999999-\r\n").Head.rfind("HTTP/1.1 416", 0), 0u);

    // One file touched: the old tag keeps no range, the whole new archive comes.
    const timespec times[2] = {{0, UTIME_OMIT}, {touched += 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Tree.At("pub/b.txt").c_str(), times, 0), 0);
    const auto changed = Get(format, "Range: bytes=700-\r\nIf-Range: " + tag + "\r\n");
    EXPECT_EQ(changed.Head.rfind("HTTP/1.1 200 OK", 0), 0u);
    EXPECT_NE(HeaderValue(changed.Head, "ETag"), tag);
    EXPECT_EQ(changed.Body, Get(format).Body);
  }
}

// Authentication
TEST_F(RequestHandlerTest, AuthenticationGate) {
  Tree.File("pub/a.txt", "a");
  Change([](TPublishSettings& s) {
    s.UserName = "user";
    s.Password = "Pass";
  });
  const std::string challenge =
      Head("HTTP/1.1 401 Unauthorized", "text/html", 49,
           "WWW-Authenticate: Basic realm=\"Velmora User Authentication.\"\r\n");
  struct AuthCase {
    const char* header;
    bool passes;
  };
  const AuthCase cases[] = {
      {"", false},
      {"Authorization: Basic dXNlcjpwYXNz\r\n", false},  // user:pass, wrong case
      {"Authorization: Basic dXNlcjpQYXNzeA==\r\n", false},  // user:Passx, longer
      {"Authorization: Basic dXNlcjpQYXNz\r\n", true},   // user:Pass
      {"Authorization: basic dXNlcjpQYXNz\r\n", true},   // scheme in lower case
  };
  for (const AuthCase& c : cases) {
    SCOPED_TRACE(c.header);
    const auto answer = Get("/a.txt", c.header);
    if (c.passes) {
      EXPECT_EQ(answer.Body, "a");
    } else {
      EXPECT_EQ(answer.Head, challenge);
      EXPECT_EQ(answer.Body, "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>");
    }
  }
  EXPECT_EQ(Get("/index.xml").Head, challenge);  // no index before the gate
  Change([](TPublishSettings& s) { s.Password.clear(); });  // a user name alone: no gate
  EXPECT_EQ(Get("/a.txt").Body, "a");
}

// Regression: wrong passwords were answered at once, as fast as a client could send them.
TEST_F(RequestHandlerTest, GuessingLocksTheAddressOutForAMinute) {
  Tree.File("pub/a.txt", "a");
  Change([](TPublishSettings& s) {
    s.UserName = "user";
    s.Password = "Pass";
  });
  const std::string wrong = "Authorization: Basic dXNlcjpwYXNz\r\n";  // user:pass
  const std::string right = "Authorization: Basic dXNlcjpQYXNz\r\n";  // user:Pass
  // Asking how to log in is no guess: requests without credentials are not counted.
  for (int i = 0; i < 12; ++i) EXPECT_EQ(Get("/a.txt").Head.rfind("HTTP/1.1 401 ", 0), 0u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Get("/a.txt", wrong).Head.rfind("HTTP/1.1 401 ", 0), 0u) << i;
  const std::string page = "<HTML><BODY><B>429 Too Many Requests</B></BODY></HTML>";
  const auto locked = [&page](const char* seconds) {
    return Head("HTTP/1.1 429 Too Many Requests", "text/html", static_cast<long long>(page.size()),
                std::string("Retry-After: ") + seconds + "\r\n");
  };
  for (const std::string& headers : {wrong, right, std::string()}) {
    const auto answer = Get("/a.txt", headers);
    // Sixty seconds, or fifty-nine once a second's edge has passed since the lock-out began.
    EXPECT_TRUE(answer.Head == locked("60") || answer.Head == locked("59")) << answer.Head;
    EXPECT_EQ(answer.Body, page);
  }
  EXPECT_TRUE(HeadIsGetsHead("/a.txt", right));
  // One line tells the operator, with the address; every request keeps its own line.
  const auto lines = Log.Lines();
  ASSERT_EQ(lines.size(), 12u + 10u + 1u + 3u + 2u);
  EXPECT_TRUE(lines[22].ends_with(" (too many failed logins: refused for 60 s) 127.0.0.1")) << lines[22];
  // Without a password there is nothing to guess, and nothing is refused.
  Change([](TPublishSettings& s) { s.Password.clear(); });
  EXPECT_EQ(Get("/a.txt", wrong).Body, "a");
}

// Regression: a malformed "Authorization" closed the connection with no answer.
TEST_F(RequestHandlerTest, MalformedCredentialsAreAnsweredAsNone) {
  Tree.File("pub/a.txt", "a");
  const char* headers[] = {"Authorization: Bearer x\r\n", "Authorization: Basic abc\r\n",
                           "Authorization: Basic dXNlcg==\r\n", "Authorization: Basic\r\n"};
  for (const char* header : headers) EXPECT_EQ(Get("/a.txt", header).Body, "a") << header;
  Change([](TPublishSettings& s) {
    s.UserName = "user";
    s.Password = "Pass";
  });
  for (const char* header : headers) {
    SCOPED_TRACE(header);
    const auto answer = Get("/a.txt", header);
    EXPECT_EQ(answer.Head.rfind("HTTP/1.1 401 Unauthorized", 0), 0u);
    EXPECT_NE(answer.Head.find("WWW-Authenticate: Basic realm="), std::string::npos);
  }
}

TEST(RequestHandler, SameSecretComparesEveryByte) {
  EXPECT_TRUE(SameSecret("", ""));
  EXPECT_TRUE(SameSecret("Pass", "Pass"));
  EXPECT_FALSE(SameSecret("Pass", "pass"));
  EXPECT_FALSE(SameSecret("Pass", "Pas"));
  EXPECT_FALSE(SameSecret("", "P"));
  EXPECT_FALSE(SameSecret(std::string("a\0b", 3), "a"));
}

// Paths outside the root
TEST_F(RequestHandlerTest, NothingOutsideTheRootIsServed) {
  Tree.File("secret.txt", "s");
  Tree.Folder("pubx");
  Tree.File("pubx/x.txt", "x");
  Tree.File("PUB.txt", "p");
  const char* targets[] = {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/../pubx/x.txt",
                           "/../", "/../index.xml", "/../../../../etc/passwd",
                           "http://example.test/../secret.txt"};
  for (const char* target : targets) {
    SCOPED_TRACE(target);
    EXPECT_TRUE(NotFound(Get(target)));
  }
}

TEST(RequestHandler, RootTestNeedsASeparator) {
  EXPECT_TRUE(IsInsideRoot("/srv/pub", "/srv/pub"));
  EXPECT_TRUE(IsInsideRoot("/srv/pub/", "/srv/pub"));
  EXPECT_TRUE(IsInsideRoot("/srv/pub/a", "/srv/pub/"));
  EXPECT_TRUE(IsInsideRoot("/srv/pub/a", "/srv/x/../pub"));
  EXPECT_FALSE(IsInsideRoot("/srv/public/a", "/srv/pub"));
  EXPECT_FALSE(IsInsideRoot("/srv/PUB/a", "/srv/pub"));
  EXPECT_FALSE(IsInsideRoot("/srv", "/srv/pub"));
  EXPECT_FALSE(IsInsideRoot("/srv/pub", ""));
  EXPECT_TRUE(IsInsideRoot("/etc/x", "/"));
}

// The log
TEST_F(RequestHandlerTest, EveryRequestIsOneLogLine) {
  // A target that would forge a second log line never reaches the handler.
  EXPECT_TRUE(Get("/a%0D%0A2004/01/01 00:00:00 forged").Closed);
  Change([](TPublishSettings& s) {
    s.UserName = "u";
    s.Password = "p";
  });
  Get("/refused");
  const auto lines = Log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" /refused 127.0.0.1")) << lines[0];
}

TEST_F(RequestHandlerTest, TheRequestLineShowsControlsAsEscapes) {
  Get("/%C2%9B2J%E2%80%AEtxt.exe%FF");
  const auto lines = Log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" /\\u{009B}2J\\u{202E}txt.exe\\xFF 127.0.0.1")) << lines[0];
}

TEST_F(RequestHandlerTest, BrowseAndJsonShowTheListingsEntriesUnderItsRules) {
  Tree.File("pub/a.txt", "a");
  Tree.File("pub/.hidden", "h");
  Tree.File("pub/b.log", "b");
  Tree.Folder("pub/sub");
  Tree.Folder("pub/.git");
  const std::string listing = Get("/").Body;

  const auto page = Get("/?browse");
  EXPECT_EQ(page.Head.rfind("HTTP/1.1 200", 0), 0u);
  for (const char* field : {"Content-Type: text/html; charset=utf-8\r\n", "X-Content-Type-Options: nosniff\r\n",
                            "Referrer-Policy: no-referrer\r\n", "Content-Security-Policy: default-src 'none'; "})
    EXPECT_NE(page.Head.find(field), std::string::npos) << field;
  EXPECT_NE(page.Body.find("href=\"./a.txt\""), std::string::npos);
  EXPECT_EQ(page.Body.find("./.hidden"), std::string::npos);
  EXPECT_EQ(page.Body.find("./.git"), std::string::npos);
  const auto json = Get("/?json&sort=size&order=desc");
  EXPECT_NE(json.Head.find("Content-Type: application/json; charset=utf-8\r\n"), std::string::npos);
  EXPECT_EQ(json.Body.find("{\"path\": \"/\", \"total\": 3, \"entries\": [\n{\"name\": \"sub\", \"type\": \"folder\""),
            0u);
  // The plain folder URL keeps its listing, whatever the other pages do.
  EXPECT_EQ(Get("/").Body, listing);
  EXPECT_EQ(Get("/?other").Body, listing);

  Change([](TPublishSettings& s) {
    s.ExtensionFilter = true;
    s.Extension = "txt";
  });
  EXPECT_EQ(Get("/?json").Body.find("b.log"), std::string::npos);
  EXPECT_NE(Get("/?json").Body.find("\"sub\""), std::string::npos);  // folders stay reachable
  EXPECT_TRUE(NotFound(Get("/.git/?browse")));
  EXPECT_TRUE(NotFound(Get("/none/?json")));
  EXPECT_NE(Get("/sub?browse&view=grid").Head.find("\r\nLocation: http://127.0.0.1/sub/?browse&view=grid\r\n"),
            std::string::npos);

  Change([](TPublishSettings& s) {
    s.UserName = "user";
    s.Password = "Pass";
  });
  EXPECT_EQ(Get("/?browse").Head.rfind("HTTP/1.1 401", 0), 0u);
  EXPECT_EQ(Get("/?json").Head.rfind("HTTP/1.1 401", 0), 0u);
  EXPECT_NE(Get("/?json", "Authorization: Basic dXNlcjpQYXNz\r\n").Body.find("\"a.txt\""), std::string::npos);
}

}  // namespace
