// File answers on the wire: parts of files, files beyond 4 GiB, revalidation, and the labels a
// file answer carries.

#include "http/protocol/HttpServerFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/TestTree.h"

namespace {

using testhttp::Exchange;
using testhttp::Head;
using testhttp::Request;

class FileAnswerTest : public THttpServerFixture {
protected:
  FileAnswerTest() {
    Handler = [this](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
      // The type the test names in the request, so that no state is shared with the test's thread.
      const std::string type = request.HeaderLines.ValueOf("X-Type");
      response.ContentType = type.empty() ? "application/x-test" : type;
      Server.SendFileResponse(thread, request, response, Tree.At(request.Document.substr(1)));
    };
    Start();
  }
  // The connection threads read the tree and the zone: they end before either goes.
  ~FileAnswerTest() override { Server.SetActive(false); }

  // A file whose bytes tell their offsets apart, last written at kFileTime.
  std::string File(const std::string& name, std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    Tree.File(name, content, kFileTime);
    return content;
  }
  testhttp::TAnswer Get(const std::string& target, const std::string& headers, const char* method = "GET") {
    return Exchange(Port(), Request(method, target, headers));
  }
  // The lines after Server of a file answer, Content-Range first when there is one, and the
  // file's name when the answer carries the file.
  static std::string After(const std::string& contentRange = "", const std::string& name = "") {
    return "Accept-Ranges: bytes\r\n" + (contentRange.empty() ? "" : "Content-Range: " + contentRange + "\r\n") +
           kFileLastModified + (name.empty() ? "" : DispositionLine(name));
  }

  TScopedTimeZone Zone{"JST-9"};
  testing_tree::TTempTree Tree;
};

// Parts
TEST_F(FileAnswerTest, APartGoesOutAs206WithItsRange) {
  const std::string content = File("f", 100000);
  struct Case {
    const char* range;
    std::size_t first, count;
  };
  const Case cases[] = {
      {"bytes=70000-70009", 70000, 10},
      {"bytes=0-0", 0, 1},
      {"bytes=99990-200000", 99990, 10},  // the end is clamped
      {"bytes=-3", 99997, 3},
      {"bytes=32760-", 32760, 100000 - 32760},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const std::string contentRange =
        "bytes " + std::to_string(c.first) + "-" + std::to_string(c.first + c.count - 1) + "/100000";
    const std::string head = Head("HTTP/1.1 206 Partial Content", "application/x-test",
                                  static_cast<long long>(c.count), After(contentRange, "f"));
    const auto answer = Get("/f", std::string("Range: ") + c.range + "\r\n");
    EXPECT_EQ(answer.Head, head);
    EXPECT_EQ(answer.Body, content.substr(c.first, c.count));
    const auto headOnly = Get("/f", std::string("Range: ") + c.range + "\r\n", "HEAD");
    EXPECT_EQ(headOnly.Head, head);
    EXPECT_EQ(headOnly.Body, "");
  }
}

TEST_F(FileAnswerTest, ARangeThatNamesNoByteIs416AndABadOneGetsTheWholeFile) {
  const std::string content = File("f", 1000);
  File("empty", 0);
  const std::string page = "<HTML><BODY><B>416 Range Not Satisfiable</B></BODY></HTML>";
  for (const auto& [target, range, size] : {std::tuple{"/f", "bytes=-0", "1000"}, std::tuple{"/f", "bytes=1000-", "1000"},
                                            std::tuple{"/empty", "bytes=0-0", "0"}}) {
    SCOPED_TRACE(range);
    const std::string head = Head("HTTP/1.1 416 Range Not Satisfiable", "text/html", static_cast<long long>(page.size()),
                                  After(std::string("bytes */") + size));
    const auto answer = Get(target, std::string("Range: ") + range + "\r\n");
    EXPECT_EQ(answer.Head, head);
    EXPECT_EQ(answer.Body, page);
    EXPECT_EQ(Get(target, std::string("Range: ") + range + "\r\n", "HEAD").Head, head);
  }
  for (const char* range : {"bytes=0-1,5-6", "bytes=9-1", "lines=1-2", "bytes=x-"}) {
    SCOPED_TRACE(range);
    const auto answer = Get("/f", std::string("Range: ") + range + "\r\n");
    EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", "application/x-test", 1000, After("", "f")));
    EXPECT_EQ(answer.Body, content);
  }
}

TEST_F(FileAnswerTest, AFileBeyondFourGiBIsServedAtAnyOffset) {
  // Sparse: only the bytes around the 4 GiB mark take room on the disk.
  constexpr off_t kFourGiB = 4294967296LL;
  const std::string path = Tree.File("big");
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_NE(fd, -1);
  ASSERT_EQ(::ftruncate(fd, kFourGiB + 100), 0);
  ASSERT_EQ(::pwrite(fd, "0123456789abcdef", 16, kFourGiB - 8), 16);
  ASSERT_EQ(::pwrite(fd, "END", 3, kFourGiB + 97), 3);
  ::close(fd);
  Tree.SetTime("big", kFileTime);

  auto answer = Get("/big", "Range: bytes=4294967288-4294967303\r\n");
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 206 Partial Content", "application/x-test", 16,
                              After("bytes 4294967288-4294967303/4294967396", "big")));
  EXPECT_EQ(answer.Body, "0123456789abcdef");
  EXPECT_EQ(Get("/big", "Range: bytes=-3\r\n").Body, "END");
  EXPECT_EQ(Get("/big", "", "HEAD").Head, Head("HTTP/1.1 200 OK(&O)", "application/x-test", 4294967396LL, After("", "big")));
}

// A short body leaves in the head's send, a longer one through the file transmit call: both
// whole, on either side of the limit, the empty file included.
TEST_F(FileAnswerTest, FilesOnEitherSideOfTheShortBodyLimitArriveWhole) {
  for (const std::size_t size : {0u, 1u, 16384u, 16385u, 70000u}) {
    SCOPED_TRACE(size);
    const std::string content = File("f" + std::to_string(size), size);
    const auto answer = Get("/f" + std::to_string(size), "");
    EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", "application/x-test", static_cast<long long>(size),
                                After("", "f" + std::to_string(size))));
    EXPECT_EQ(answer.Body, content);
  }
}

// Revalidation
TEST_F(FileAnswerTest, AnUnchangedFileIs304WithoutABody) {
  File("f", 10);
  const std::string head = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\nContent-Type: application/x-test\r\n"
                           "Server: Velmora/1.0\r\n" + After() + "\r\n";
  for (const char* method : {"GET", "HEAD"}) {
    const auto answer = Get("/f", "If-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT\r\n", method);
    EXPECT_EQ(answer.Head, head);
    EXPECT_EQ(answer.Body, "");
  }
  EXPECT_EQ(Get("/f", "If-Modified-Since: Sat, 19 Jun 2004 13:22:16 GMT\r\n").Body.size(), 10u);
}

// Character set of text
TEST_F(FileAnswerTest, TextWhoseStartIsUtf8IsLabelledSo) {
  Tree.File("utf8.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n", kFileTime);
  Tree.File("ascii.txt", "plain\n", kFileTime);
  Tree.File("sjis.txt", "\x93\xFA\x96\x7B\n", kFileTime);
  Tree.File("late.txt", std::string(4096, 'a') + "\xE6\x97\xA5", kFileTime);  // beyond the first 4 KiB
  struct Case {
    const char* type;
    const char* target;
    const char* sent;
  };
  const Case cases[] = {
      {"text/plain", "/utf8.txt", "text/plain; charset=UTF-8"},
      {"text/html", "/utf8.txt", "text/html; charset=UTF-8"},
      {"text/plain", "/ascii.txt", "text/plain"},
      {"text/plain", "/sjis.txt", "text/plain"},
      {"text/plain", "/late.txt", "text/plain"},
      {"text/plain; charset=EUC-JP", "/utf8.txt", "text/plain; charset=EUC-JP"},  // a label of its own stays
      {"application/octet-stream", "/utf8.txt", "application/octet-stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.target);
    EXPECT_NE(Get(c.target, std::string("X-Type: ") + c.type + "\r\n").Head.find(std::string("\r\nContent-Type: ") + c.sent + "\r\n"), std::string::npos);
  }
}

}  // namespace
