// Thumbnails against the real headless program: a crowd asks for the thumbnails of many
// different large pictures and bombs at once, then goes away. The decodes must stay few and
// small, the line beyond them must turn requests away, another client must be served all along,
// and the places of the leavers must be given up. Prints what it saw.

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "hostile/NonReader.h"
#include "support/ImageSamples.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::milliseconds;
using std::chrono::seconds;
namespace fs = std::filesystem;

constexpr int kClients = 200;
// The bound the server keeps thumbnailing photos; the bombs would take 324 MB and 243 MB whole.
constexpr long kLimitKiB = 200 * kKiBPerMiB;
constexpr long kGuardKiB = 1024 * kKiBPerMiB;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// "HTTP/1.1 503" from "HTTP/1.1 503 Service Unavailable...", "" for no answer.
std::string StatusOf(const std::string& answer) { return answer.substr(0, std::min<std::size_t>(answer.size(), 12)); }

// The sources: pictures that are slow to reduce (most of the line, so that working through it
// would take seconds), and bombs that would be huge decoded whole. Every client asks for a name
// of its own (hard links), so that no cache answers for another.
std::vector<std::string> BuildPictures(const fs::path& root) {
  const fs::path sources = root.parent_path() / "sources";
  fs::create_directories(sources);
  const std::vector<std::pair<std::string, std::string>> kinds = {
      {"large.png", samples::PlainPng(4600, 4600, samples::kBlue, false)},
      {"photo.jpg", samples::Jpeg(samples::Quadrants(4000, 3000))},
      {"interlaced.png", samples::PlainPng(9000, 9000, samples::kGreen, true)},
      {"screen.gif", samples::GifScreen(9000, 9000, true)},
  };
  for (const auto& [name, content] : kinds) WriteFile(sources / name, content);
  std::vector<std::string> targets;
  for (int i = 0; i < kClients; ++i) {
    const std::size_t kind = i % 8 < 5 ? 0 : i % 8 - 4;
    const std::string& name = kinds[kind].first;
    const std::string link = std::to_string(i) + "-" + name;
    fs::create_hard_link(sources / name, root / link);
    targets.push_back("/" + link + "?thumb");
  }
  return targets;
}

TEST(ThumbnailHostile, ACrowdOfLargePicturesAndBombsKeepsTheServerSmallAndResponsive) {
  std::string folder = (fs::temp_directory_path() / "velmora-thumbs-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const fs::path root = fs::path(folder) / "root";
  fs::create_directories(root);
  WriteFile(root / "small.txt", "small");
  WriteFile(root / "after.jpg", samples::Jpeg(samples::Quadrants(64, 48)));
  const auto made = TClock::now();
  const std::vector<std::string> targets = BuildPictures(root);
  const double makeSeconds = SecondsSince(made);
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  TServerProcess server(VELMORA_BINARY, root.string(), folder, testsock::FreePort(), kGuardKiB);
  ASSERT_TRUE(server.Start(files.rlim_cur)) << server.Output() << server.Error();

  server.ResetPeak();
  const long before = server.ResidentKiB();
  const auto start = TClock::now();
  std::vector<std::unique_ptr<TNonReader>> clients;
  for (const std::string& target : targets)
    clients.push_back(std::make_unique<TNonReader>(server.Port(), Request("GET", target)));
  // While the crowd waits: another address gets a file at once, and a thumbnail beyond the full
  // line is turned away with a time to come back.
  double slowestFile = 0;
  std::string fileStatus, refusal;
  while (SecondsSince(start) < 2.0) {
    const TExchange file = Exchange(server.Port(), Request("GET", "/small.txt"), seconds(5), "127.0.0.2");
    slowestFile = std::max(slowestFile, file.Seconds);
    if (fileStatus.empty() || !file.Answer.starts_with("HTTP/1.1 200")) fileStatus = StatusOf(file.Answer);
    if (refusal.empty()) {
      // Let in while the crowd's requests are still being read, it leaves the line again.
      const TExchange probe =
          Exchange(server.Port(), Request("GET", "/0-large.png?thumb=640"), milliseconds(300), "127.0.0.3");
      if (probe.Answer.starts_with("HTTP/1.1 503")) refusal = probe.Answer.substr(0, probe.Answer.find("\r\n\r\n"));
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
  std::map<std::string, int> statuses;
  for (const auto& client : clients) ++statuses[client->Connected() ? StatusOf(client->Peek()) : "unconnected"];
  clients.clear();

  // The leavers' places are given up: a new thumbnail comes in the time of the decodes under way,
  // not in that of the whole line.
  const auto left = TClock::now();
  TExchange after;
  do {
    after = Exchange(server.Port(), Request("GET", "/after.jpg?thumb"), seconds(10), "127.0.0.2");
  } while (!after.Answer.starts_with("HTTP/1.1 200") && SecondsSince(left) < 10);
  const double afterSeconds = SecondsSince(left);
  const long peak = server.PeakKiB();

  std::string seen;
  for (const auto& [status, count] : statuses) seen += Format(" %d \"%s\";", count, status.c_str());
  Report(Format("thumbnail crowd: sources made in %.1f s; %d clients, each its own picture or bomb, for 2 s:%s "
                "from 127.0.0.2 meanwhile a file in at most %.0f ms (\"%s\"); after they left a thumbnail in %.2f s",
                makeSeconds, kClients, seen.c_str(), slowestFile * 1000, fileStatus.c_str(), afterSeconds) +
         MemoryFigures(server, before));
  EXPECT_GT(statuses["HTTP/1.1 503"], 0);
  EXPECT_NE(refusal.find("\r\nRetry-After: 1"), std::string::npos) << refusal;
  EXPECT_EQ(fileStatus, "HTTP/1.1 200");
  EXPECT_LT(slowestFile, 1.0);
  EXPECT_TRUE(after.Answer.starts_with("HTTP/1.1 200")) << after.Answer.substr(0, after.Answer.find('\r'));
  EXPECT_LT(afterSeconds, 3.0);
  EXPECT_LT(peak, kLimitKiB);
  EXPECT_TRUE(server.Running()) << HowItEnded(server);
  server.Stop();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
