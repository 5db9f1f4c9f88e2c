// Big answers against the real headless program, over a generated tree of its own: the index of
// 30,000 files asked for by 128 connections of one address that never read, then by 100 that
// read it whole, and a web of links that doubled the index at every level. The server's memory
// must stay bounded and another address must be answered meanwhile. Each check prints what it
// saw.

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

// 30,000 files with long names keep the tree's making to seconds and still give an index of
// several MB; the 300,000 of a real large tree would only make the suite slower, not the answer
// any larger in the server's memory.
constexpr int kFolders = 30;
constexpr int kFilesPerFolder = 1000;
constexpr char kLongName[] = "/a-file-name-as-long-as-those-a-camera-or-a-download-tool-gives-";
constexpr std::size_t kNonReaders = 128;
constexpr std::size_t kReaders = 100;
// Readers come from several addresses, as many readers at once do.
const std::vector<std::string> kReaderSources{"127.0.0.20", "127.0.0.21", "127.0.0.22", "127.0.0.23"};
constexpr long kNonReadersLimitKiB = 64 * kKiBPerMiB;
constexpr long kReadersLimitKiB = 100 * kKiBPerMiB;
constexpr long kGuardKiB = 1024 * kKiBPerMiB;
constexpr int kLinkLevels = 22;
constexpr char kSmallPath[] = "/small.txt";
constexpr char kIndexEnd[] = "</Project_File_Information>\r\n";

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

void MakeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
}

class BigAnswers : public testing::Test {
protected:
  static void SetUpTestSuite() {
    std::string folder = (fs::temp_directory_path() / "velmora-big-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    FFolder = folder;
    const auto start = TClock::now();
    const std::string root = FFolder + "/root";
    fs::create_directories(root);
    for (int d = 0; d < kFolders; ++d) {
      const std::string sub = root + "/folder-" + std::to_string(d);
      ::mkdir(sub.c_str(), 0755);
      for (int f = 0; f < kFilesPerFolder; ++f) MakeFile(sub + kLongName + std::to_string(f) + ".dat");
    }
    std::ofstream(root + kSmallPath) << "small";
    FMakeSeconds = SecondsSince(start);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    FServer = std::make_unique<TServerProcess>(VELMORA_BINARY, root, FFolder, testsock::FreePort(), kGuardKiB);
    ASSERT_TRUE(FServer->Start(files.rlim_cur)) << FServer->Output() << FServer->Error();
  }
  static void TearDownTestSuite() {
    if (FServer) FServer->Stop();
    FServer.reset();
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
  }

  TServerProcess& Server() { return *FServer; }
  static std::string Root() { return FFolder + "/root"; }

  // The whole index of the tree, read by one client: its bytes after the head.
  std::string WholeIndex() {
    const TExchange whole = Exchange(Server().Port(), Request("GET", "/index.xml"), seconds(30), "127.0.0.4");
    const std::size_t bodyStart = whole.Answer.find("\r\n\r\n");
    return bodyStart == std::string::npos ? std::string() : whole.Answer.substr(bodyStart + 4);
  }

  static std::string FFolder;
  static double FMakeSeconds;
  static std::unique_ptr<TServerProcess> FServer;
};

std::string BigAnswers::FFolder;
double BigAnswers::FMakeSeconds = 0;
std::unique_ptr<TServerProcess> BigAnswers::FServer;

std::string Status(const std::string& answer) { return answer.substr(0, answer.find('\r')); }

TEST_F(BigAnswers, NonReadersOfAHugeIndexKeepTheServerSmall) {
  ASSERT_TRUE(Server().Running());
  const std::size_t indexSize = WholeIndex().size();
  ASSERT_TRUE(indexSize > std::size_t{1} << 20) << indexSize;
  Server().ResetPeak();
  const long before = Server().ResidentKiB();
  const auto start = TClock::now();
  std::vector<std::unique_ptr<TNonReader>> clients;
  for (std::size_t i = 0; i < kNonReaders; ++i)
    clients.push_back(std::make_unique<TNonReader>(Server().Port(), Request("GET", "/index.xml")));
  const auto connected = std::count_if(clients.begin(), clients.end(), [](const auto& c) { return c->Connected(); });

  // Until every one has the start of an answer (the rest of it stalls in its socket), another
  // address asks for a file and a listing again and again.
  double slowestFile = 0, slowestListing = 0;
  std::string fileStatus, listingStatus;
  std::size_t answered = 0, ok = 0, busy = 0;
  const auto deadline = start + seconds(60);
  while (TClock::now() < deadline) {
    answered = ok = busy = 0;
    for (const auto& client : clients) {
      const std::string seen = client->Peek();
      answered += seen.empty() ? 0 : 1;
      ok += seen.starts_with("HTTP/1.1 200") ? 1 : 0;
      busy += seen.starts_with("HTTP/1.1 503") ? 1 : 0;
    }
    if (answered == clients.size()) break;
    const TExchange file = Exchange(Server().Port(), Request("GET", kSmallPath), seconds(5), "127.0.0.2");
    const TExchange listing = Exchange(Server().Port(), Request("GET", "/"), seconds(10), "127.0.0.2");
    slowestFile = std::max(slowestFile, file.Seconds);
    slowestListing = std::max(slowestListing, listing.Seconds);
    if (fileStatus.empty() || !file.Answer.starts_with("HTTP/1.1 200")) fileStatus = Status(file.Answer);
    if (listingStatus.empty() || !listing.Answer.starts_with("HTTP/1.1 200")) listingStatus = Status(listing.Answer);
    std::this_thread::sleep_for(milliseconds(200));
  }
  const double answerSeconds = SecondsSince(start);
  std::this_thread::sleep_for(seconds(1));  // the last sends settle
  const long peak = Server().PeakKiB();
  Report(Format("tree of %d files made in %.1f s, index %.1f MB; %zu non-readers of it from 127.0.0.1 (%td connected): "
                "%zu answered in %.1f s, %zu with 200 (stalled in their sockets), %zu with 503; from 127.0.0.2 "
                "meanwhile a file in at most %.0f ms (\"%s\"), the listing in at most %.0f ms (\"%s\")",
                kFolders * kFilesPerFolder, FMakeSeconds, static_cast<double>(indexSize) / 1e6, kNonReaders, connected,
                answered, answerSeconds, ok, busy, slowestFile * 1000, fileStatus.c_str(), slowestListing * 1000,
                listingStatus.c_str()) +
         MemoryFigures(Server(), before));
  EXPECT_EQ(answered, clients.size());
  EXPECT_LT(peak, kNonReadersLimitKiB);
  EXPECT_LT(slowestFile, 1.0);
  EXPECT_EQ(fileStatus, "HTTP/1.1 200 OK(&O)");
  EXPECT_LT(slowestListing, 5.0);
  clients.clear();
  EXPECT_TRUE(Server().Running()) << HowItEnded(Server());
}

TEST_F(BigAnswers, ReadersOfAHugeIndexGetItWholeInBoundedMemory) {
  ASSERT_TRUE(Server().Running());
  const std::size_t indexSize = WholeIndex().size();
  Server().ResetPeak();
  const long before = Server().ResidentKiB();
  struct TRead {
    std::size_t Bytes = 0;
    std::string Start, End;
  };
  std::vector<TRead> reads(kReaders);
  TCrowd crowd(Server().Port(), kReaderSources, kReaders, Request("GET", "/index.xml"),
               [&reads](std::size_t index, std::string_view bytes) {
                 TRead& read = reads[index];
                 if (read.Start.size() < 12) read.Start.append(bytes.substr(0, 12 - read.Start.size()));
                 read.Bytes += bytes.size();
                 read.End.append(bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 32)));
                 if (read.End.size() > 32) read.End.erase(0, read.End.size() - 32);
               });
  const auto start = TClock::now();
  crowd.RunUntil(start + seconds(90));
  const double seconds = SecondsSince(start);
  std::size_t whole = 0, busy = 0;
  for (const TRead& read : reads) {
    busy += read.Start.starts_with("HTTP/1.1 503") ? 1 : 0;
    whole += read.Start.starts_with("HTTP/1.1 200") && read.Bytes > indexSize && read.End.ends_with(kIndexEnd) ? 1 : 0;
  }
  Report(Format("%zu readers of the %.1f MB index from 127.0.0.20-23, done in %.1f s: %zu got it whole, %zu a 503",
                kReaders, static_cast<double>(indexSize) / 1e6, seconds, whole, busy) +
         MemoryFigures(Server(), before));
  EXPECT_EQ(whole + busy, kReaders);
  EXPECT_GT(whole, 0u);
  EXPECT_LT(Server().PeakKiB(), kReadersLimitKiB);
}

// A chain of folders, each holding two links to the next: walked once a folder, the index stays
// small and fast however long the chain.
TEST_F(BigAnswers, ALinkWebGivesASmallIndex) {
  const std::string web = Root() + "/web";
  for (int i = 0; i < kLinkLevels; ++i) fs::create_directories(web + "/L" + std::to_string(i));
  for (int i = 0; i + 1 < kLinkLevels; ++i) {
    for (const char* name : {"/a", "/b"})
      fs::create_symlink("../L" + std::to_string(i + 1), web + "/L" + std::to_string(i) + name);
  }
  const TExchange index = Exchange(Server().Port(), Request("GET", "/web/L0/index.xml"), seconds(30), "127.0.0.5");
  Report(Format("link web of %d levels: /web/L0/index.xml answered \"%s\" with %zu bytes in %.0f ms", kLinkLevels,
                Status(index.Answer).c_str(), index.Answer.size(), index.Seconds * 1000));
  EXPECT_TRUE(index.Answer.ends_with(kIndexEnd));
  EXPECT_LT(index.Answer.size(), 16384u);
  EXPECT_LT(index.Seconds, 2.0);
}

}  // namespace
