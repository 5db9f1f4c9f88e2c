// "?thumb" behind a real server on loopback: the same gate as the file, answers a page can
// cache, the caches, and the line in front of the decoders.

#include "publish/RequestHandler.h"
#include "publish/TestSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "http/protocol/IdHTTPServer.h"
#include "http/server/IdPeerThread.h"
#include "platform/ChildProcess.h"
#include "platform/TestTree.h"
#include "publish/DesktopThumbnails.h"
#include "publish/JpegDecoder.h"
#include "publish/Md5.h"
#include "support/HttpExchange.h"
#include "support/ImageSamples.h"
#include "support/ScopedTimeZone.h"
#include "support/TestSockets.h"

namespace {

using namespace samples;
using testhttp::Exchange;
using testhttp::Request;

class TNoLog : public ILogSink {
public:
  void AppendLine(const std::string&) override {}
};

// The names and sizes of every entry below folder, for comparing a tree before and after.
std::string Listing(const std::string& folder) {
  std::string listing;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    listing += entry.path().string() + (entry.is_regular_file() ? " " + std::to_string(entry.file_size()) : "") + "\n";
  return listing;
}

class ThumbnailRouteTest : public ::testing::Test {
protected:
  ThumbnailRouteTest()
      : Gate(std::make_shared<TThumbnailGate>(1, 1)),
        Handler(Server, Settings, Log, MimeTypes, platform::TRegionalFormats{}, TAnswerLimits{},
                Options(Tree.Folder("cache"))) {
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
  ~ThumbnailRouteTest() override { Server.SetActive(false); }
  TThumbnailOptions Options(const std::string& cacheFolder, const std::string& videoProgram = "") {
    return {.Gate = Gate,
            .MemoryBytes = 1 << 20,
            .CacheFolder = cacheFolder,
            .CacheBytes = 1 << 20,
            .DesktopFolder = Tree.Folder("desktop"),
            .VideoProgram = videoProgram};
  }
  void Serve(TRequestHandler& handler) {
    Server.OnCommandGet = [&handler](TIdPeerThread& t, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
      handler.httpdCommandGet(t, rq, rs);
    };
  }
  void SetUp() override {
    Server.SetActive(true);
    Port = Server.Bindings()[0].Port;
  }
  testhttp::TAnswer Get(const std::string& target, const std::string& headers = "") {
    return Exchange(Port, Request("GET", target, headers));
  }
  static bool Status(const testhttp::TAnswer& answer, int code) {
    return answer.Head.starts_with("HTTP/1.1 " + std::to_string(code));
  }
  static std::string Field(const testhttp::TAnswer& answer, const std::string& name) {
    const std::size_t at = answer.Head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    const std::size_t start = at + name.size() + 4;
    return answer.Head.substr(start, answer.Head.find("\r\n", start) - start);
  }

  TScopedTimeZone Zone{"UTC"};
  testing_tree::TTempTree Tree;
  std::shared_ptr<TThumbnailGate> Gate;
  std::string Root;
  TTestSettings Settings;
  TNoLog Log;
  TIdMimeTable MimeTypes{true, "/nonexistent/mime.types"};
  TIdHTTPServer Server;
  TRequestHandler Handler;
  int Port = 0;
};

TEST_F(ThumbnailRouteTest, AnImageGetsACacheableJpegAndRevalidates) {
  Tree.File("pub/photo.png", Png(Quadrants(1000, 500)), 1087651337);
  const auto answer = Get("/photo.png?thumb");
  ASSERT_TRUE(Status(answer, 200)) << answer.Head;
  EXPECT_EQ(Field(answer, "Content-Type"), "image/jpeg");
  EXPECT_EQ(Field(answer, "Cache-control"), "private, max-age=86400");
  EXPECT_EQ(Field(answer, "Last-Modified"), "Sat, 19 Jun 2004 13:22:17 GMT");
  EXPECT_EQ(DecodeJpeg(answer.Body, 4096).Width, 320);
  EXPECT_EQ(DecodeJpeg(Get("/photo.png?thumb=640").Body, 4096).Width, 640);
  const std::string tag = Field(answer, "ETag");
  ASSERT_FALSE(tag.empty());
  EXPECT_NE(Field(Get("/photo.png?thumb=640"), "ETag"), tag);
  // The client's copy is still good by its tag or its date: nothing but the head comes back.
  for (const std::string& condition : {"If-None-Match: " + tag + "\r\n",
                                       std::string("If-Modified-Since: Sat, 19 Jun 2004 13:22:17 GMT\r\n")}) {
    const auto again = Get("/photo.png?thumb", condition);
    EXPECT_TRUE(Status(again, 304)) << again.Head;
    EXPECT_EQ(again.Body, "");
  }
  EXPECT_TRUE(Status(Get("/photo.png?thumb", "If-None-Match: \"other\"\r\n"), 200));
  // HEAD carries the GET's head, length included, and no body.
  const auto head = Exchange(Port, Request("HEAD", "/photo.png?thumb"));
  EXPECT_EQ(head.Head, answer.Head);
  EXPECT_EQ(head.Body, "");
  // Without "thumb" the file itself is sent as before.
  EXPECT_EQ(Get("/photo.png?x=1").Body, Png(Quadrants(1000, 500)));
}

TEST_F(ThumbnailRouteTest, WhatHasNoThumbnailIsNotFound) {
  Tree.File("pub/notes.jpg", "This is text, named as a photo.\n");
  Tree.File("pub/cut.jpg", Jpeg(Quadrants(400, 400)).substr(0, 900));
  std::string bomb("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\x01\x86\xA0\0\x01\x86\xA0\x08\x02\0\0\0\0\0\0\0", 33);
  Tree.File("pub/bomb.png", bomb);
  Tree.File("pub/ok.gif", Gif(Quadrants(64, 64)));
  Tree.Folder("pub/.hidden");
  Tree.File("pub/.hidden/secret.png", Png(Quadrants(64, 64)));
  for (const char* target : {"/notes.jpg?thumb", "/cut.jpg?thumb", "/bomb.png?thumb", "/ok.gif?thumb=100",
                             "/missing.png?thumb", "/.hidden/secret.png?thumb"}) {
    SCOPED_TRACE(target);
    EXPECT_TRUE(Status(Get(target), 404));
  }
  EXPECT_TRUE(Status(Get("/ok.gif?thumb=320"), 200));
}

TEST_F(ThumbnailRouteTest, ThumbnailsAskForTheSameCredentialsAsTheFile) {
  Tree.File("pub/photo.jpg", Jpeg(Quadrants(64, 64)));
  TPublishSettings settings = Settings.Snapshot();
  settings.UserName = "user";
  settings.Password = "Pass";
  Settings.Set(settings);
  EXPECT_TRUE(Status(Get("/photo.jpg?thumb"), 401));
  EXPECT_TRUE(Status(Get("/photo.jpg?thumb", "Authorization: Basic dXNlcjpQYXNz\r\n"), 200));
}

TEST_F(ThumbnailRouteTest, TheDiskCacheLiesOutsideTheShareAndFollowsTheFile) {
  Tree.File("pub/photo.jpg", Jpeg(Plain(400, 400, kRed)), 1000000000);
  const std::string before = Listing(Root);
  const auto first = Get("/photo.jpg?thumb");
  ASSERT_TRUE(Status(first, 200));
  EXPECT_EQ(Listing(Root), before);
  EXPECT_NE(Listing(Tree.At("cache")), "");
  // Changed in place: the next thumbnail is made from the new picture.
  Tree.File("pub/photo.jpg", Jpeg(Plain(400, 400, kBlue)), 1000000100);
  const std::string blue = Get("/photo.jpg?thumb").Body;
  EXPECT_TRUE(Near(At(DecodeJpeg(blue, 4096), 10, 10), kBlue));
  // A later run finds it on disk: the same size and time are not even read again.
  TRequestHandler later(Server, Settings, Log, MimeTypes, platform::TRegionalFormats{}, TAnswerLimits{},
                        Options(Tree.At("cache")));
  Serve(later);
  const std::size_t size = Jpeg(Plain(400, 400, kBlue)).size();
  Tree.File("pub/photo.jpg", std::string(size, 'x'), 1000000100);
  EXPECT_EQ(Get("/photo.jpg?thumb").Body, blue);
  EXPECT_EQ(Listing(Root), Root + "/photo.jpg " + std::to_string(size) + "\n");
}

TEST_F(ThumbnailRouteTest, ADiskCacheInsideTheShareIsNeverWritten) {
  TRequestHandler inside(Server, Settings, Log, MimeTypes, platform::TRegionalFormats{}, TAnswerLimits{}, Options(Root + "/.cache/"));
  Serve(inside);
  Tree.File("pub/photo.jpg", Jpeg(Plain(64, 64, kRed)));
  const std::string before = Listing(Root);
  EXPECT_TRUE(Status(Get("/photo.jpg?thumb"), 200));
  EXPECT_EQ(Listing(Root), before);
}

TEST_F(ThumbnailRouteTest, TheDesktopCacheIsUsedWhileItsStampMatches) {
  const std::string path = Tree.File("pub/photo.jpg", Jpeg(Plain(800, 800, kRed)), 1000000000);
  // The desktop's 512-pixel thumbnail, deliberately green, stamped for the file as it is.
  const std::string name = Md5Hex(FileUri(path)) + ".png";
  Tree.Folder("desktop/x-large");
  Tree.File("desktop/x-large/" + name,
            Png(Plain(512, 512, kGreen), {{"Thumb::URI", FileUri(path)}, {"Thumb::MTime", "1000000000"}}));
  EXPECT_TRUE(Near(At(DecodeJpeg(Get("/photo.jpg?thumb").Body, 4096), 10, 10), kGreen));
  // The file changed since: its stamp no longer matches, and the file itself is decoded.
  Tree.SetTime("pub/photo.jpg", 1000000050);
  EXPECT_TRUE(Near(At(DecodeJpeg(Get("/photo.jpg?thumb").Body, 4096), 10, 10), kRed));
  // Too small for the box asked: not used.
  EXPECT_TRUE(Near(At(DecodeJpeg(Get("/photo.jpg?thumb=640").Body, 4096), 10, 10), kRed));
}

TEST_F(ThumbnailRouteTest, VideosGetAFrameFromTheVideoProgramWhenItIsInstalled) {
  if (platform::FindProgram("ffmpegthumbnailer").empty()) GTEST_SKIP() << "ffmpegthumbnailer is not installed";
  // The program reads any medium its decoders know, a still picture too: a JPEG named as a clip
  // stands in for a video here.
  Tree.File("pub/clip.mp4", Jpeg(Quadrants(640, 320)));
  Tree.File("pub/broken.mkv", "no video at all");
  const auto frame = Get("/clip.mp4?thumb");
  ASSERT_TRUE(Status(frame, 200)) << frame.Head;
  const TImage image = DecodeJpeg(frame.Body, 4096);
  EXPECT_EQ(image.Width, 320);
  EXPECT_TRUE(Near(At(image, 3, 3), kRed));
  EXPECT_TRUE(Status(Get("/broken.mkv?thumb"), 404));
  // Without the program a video is like any file that has no thumbnail.
  TRequestHandler without(Server, Settings, Log, MimeTypes, platform::TRegionalFormats{}, TAnswerLimits{},
                          Options(Tree.Folder("cache2"), "/nonexistent/ffmpegthumbnailer"));
  Serve(without);
  Tree.File("pub/other.mov", Jpeg(Quadrants(640, 320)));
  EXPECT_TRUE(Status(Get("/other.mov?thumb"), 404));
}

TEST_F(ThumbnailRouteTest, BeyondTheLineRequestsAreTurnedAwayAndLeaversAreDropped) {
  Tree.File("pub/a.jpg", Jpeg(Quadrants(64, 64)));
  // The test holds the one slot: the first request waits in the line of one, the next is refused.
  ASSERT_EQ(Gate->Enter([] { return false; }), TThumbnailGate::grEntered);
  auto waiting = std::async(std::launch::async, [&] { return Get("/a.jpg?thumb"); });
  while (Gate->Waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto refused = Get("/a.jpg?thumb");
  EXPECT_TRUE(Status(refused, 503)) << refused.Head;
  EXPECT_EQ(Field(refused, "Retry-After"), "1");
  Gate->Leave();
  EXPECT_TRUE(Status(waiting.get(), 200));

  // A client that leaves while waiting gives its place up without a decode (b.jpg is in no
  // cache yet).
  Tree.File("pub/b.jpg", Jpeg(Quadrants(64, 64)));
  ASSERT_EQ(Gate->Enter([] { return false; }), TThumbnailGate::grEntered);
  {
    testsock::TClient client(Port);
    client.Send(Request("GET", "/b.jpg?thumb"));
    while (Gate->Waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  while (Gate->Waiting() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Gate->Running(), 1);
  Gate->Leave();
}

}  // namespace
