// One folder of 100,000 files against the real headless program: its listing and its index
// asked for by 128 connections of one address that never read. Every build holds the whole
// folder while it sorts it, so what one entry costs, times the builds at once, is the server's
// peak; another address must be answered meanwhile. Prints what it saw.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "hostile/NonReader.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::milliseconds;
using std::chrono::seconds;
namespace fs = std::filesystem;

constexpr int kFiles = 100000;
constexpr char kLongName[] = "a-file-name-as-long-as-those-a-camera-or-a-download-tool-gives-";
constexpr std::size_t kNonReaders = 128;
constexpr long kLimitKiB = 100 * kKiBPerMiB;
constexpr long kGuardKiB = 1024 * kKiBPerMiB;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

TEST(CrowdedFolder, NonReadersOfItsListingAndIndexKeepTheServerSmall) {
  std::string folder = (fs::temp_directory_path() / "velmora-crowded-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const std::string root = folder + "/root";
  fs::create_directories(root + "/crowded");
  const auto made = TClock::now();
  {
    const int crowded = ::open((root + "/crowded").c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    ASSERT_GE(crowded, 0);
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = kLongName + std::to_string(i) + ".dat";
      ::mknodat(crowded, name.c_str(), S_IFREG | 0644, 0);
    }
    ::close(crowded);
  }
  std::ofstream(root + "/small.txt") << "small";
  const double makeSeconds = SecondsSince(made);
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  TServerProcess server(VELMORA_BINARY, root, folder, testsock::FreePort(), kGuardKiB);
  ASSERT_TRUE(server.Start(files.rlim_cur)) << server.Output() << server.Error();

  server.ResetPeak();
  const long before = server.ResidentKiB();
  const auto start = TClock::now();
  std::vector<std::unique_ptr<TNonReader>> clients;
  for (std::size_t i = 0; i < kNonReaders; ++i) {
    const char* path = i % 2 == 0 ? "/crowded/" : "/crowded/index.xml";
    clients.push_back(std::make_unique<TNonReader>(server.Port(), Request("GET", path)));
  }
  double slowestFile = 0;
  std::string fileStatus;
  std::size_t answered = 0, ok = 0;
  while (TClock::now() < start + seconds(60)) {
    answered = ok = 0;
    for (const auto& client : clients) {
      const std::string seen = client->Peek();
      answered += seen.empty() ? 0 : 1;
      ok += seen.starts_with("HTTP/1.1 200") ? 1 : 0;
    }
    if (answered == clients.size()) break;
    const TExchange file = Exchange(server.Port(), Request("GET", "/small.txt"), seconds(5), "127.0.0.2");
    slowestFile = std::max(slowestFile, file.Seconds);
    if (fileStatus.empty() || !file.Answer.starts_with("HTTP/1.1 200")) fileStatus = file.Answer.substr(0, file.Answer.find('\r'));
    std::this_thread::sleep_for(milliseconds(200));
  }
  const double answerSeconds = SecondsSince(start);
  std::this_thread::sleep_for(seconds(1));
  const long peak = server.PeakKiB();
  Report(Format("folder of %d files made in %.1f s; %zu non-readers of its listing and index from 127.0.0.1: %zu "
                "answered in %.1f s, %zu with 200; from 127.0.0.2 meanwhile a file in at most %.0f ms (\"%s\")",
                kFiles, makeSeconds, kNonReaders, answered, answerSeconds, ok, slowestFile * 1000, fileStatus.c_str()) +
         MemoryFigures(server, before));
  EXPECT_EQ(answered, clients.size());
  EXPECT_GT(ok, 0u);
  EXPECT_LT(peak, kLimitKiB);
  EXPECT_LT(slowestFile, 1.0);
  EXPECT_EQ(fileStatus, "HTTP/1.1 200 OK(&O)");
  clients.clear();
  EXPECT_TRUE(server.Running()) << HowItEnded(server);
  server.Stop();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
