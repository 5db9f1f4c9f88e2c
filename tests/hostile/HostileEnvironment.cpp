#include "hostile/HostileEnvironment.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "hostile/LoopbackClient.h"
#include "support/TestSockets.h"

namespace hostile {

namespace {

namespace fs = std::filesystem;

// Far above anything a server with limits needs (the downloads stay under 200 MiB): a server
// past it is missing a limit, and is killed before it takes the machine's memory.
constexpr long kGuardKiB = 1024 * kKiBPerMiB;
// The crowds hold 2,000 and 500 connections at once.
constexpr rlim_t kOpenFilesNeeded = 4096;
constexpr std::chrono::seconds kNormalWait{5};

struct TShared {
  fs::path Folder;          // temporary: root/ and the server's logs
  rlim_t OpenFileLimit = 0;  // this process's soft limit as it started; the server gets it too
  std::string BigContent;
  std::unique_ptr<TServerProcess> Server;
};

TShared& Shared() {
  static TShared shared;
  return shared;
}

fs::path Root() { return Shared().Folder / "root"; }

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Bytes that no shift or repeat of a block can pass for the file (xorshift64).
std::string NoiseBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<char>(state >> 56);
  }
  return bytes;
}

void BuildTree() {
  WriteFile(Root() / "a.txt", kPlainContent);
  WriteFile(Root() / "a" / "visible.txt", "visible");
  for (const TWithheldFile& file : kWithheldFiles) WriteFile(Root() / file.Path, file.Content);
  Shared().BigContent = NoiseBytes(kBigSize);
  WriteFile(Root() / "big.bin", Shared().BigContent);
}

rlim_t RaiseOpenFileLimit() {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  const rlim_t original = files.rlim_cur;
  if (files.rlim_cur < kOpenFilesNeeded) {
    files.rlim_cur = std::min(kOpenFilesNeeded, files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  return original;
}

std::string LastLine(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);  // npos + 1 is 0: the whole text is one line
}

}  // namespace

std::string Request(const std::string& method, const std::string& target, const std::string& headers) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

void THostileEnvironment::SetUp() {
  std::string folder = (fs::temp_directory_path() / "velmora-hostile-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  Shared().Folder = folder;
  BuildTree();
  Shared().OpenFileLimit = RaiseOpenFileLimit();
  Server();
}

void THostileEnvironment::TearDown() {
  TShared& shared = Shared();
  if (shared.Server) {
    const int status = shared.Server->Stop();
    const std::string last = LastLine(shared.Server->Output());
    Report(Format("SIGTERM: exit status %d, last log line \"%s\"", status, last.c_str()));
    EXPECT_EQ(status, 0) << shared.Server->Error();
    EXPECT_TRUE(last.ends_with("サーバ停止")) << last;
    shared.Server.reset();
  }
  std::error_code ignored;
  fs::remove_all(shared.Folder, ignored);
}

TServerProcess& THostileEnvironment::Server() {
  TShared& shared = Shared();
  if (shared.Server && shared.Server->Running()) return *shared.Server;
  if (shared.Server) Report(HowItEnded(*shared.Server) + "; starting another");
  shared.Server = std::make_unique<TServerProcess>(VELMORA_BINARY, Root().string(), shared.Folder.string(),
                                                   testsock::FreePort(), kGuardKiB);
  EXPECT_TRUE(shared.Server->Start(shared.OpenFileLimit)) << shared.Server->Output() << shared.Server->Error();
  return *shared.Server;
}

const std::string& THostileEnvironment::BigContent() { return Shared().BigContent; }

testing::AssertionResult ServesNormally(const TServerProcess& server) {
  const std::string expected = std::string("\r\n\r\n") + kPlainContent;
  const auto deadline = TClock::now() + kNormalWait;
  TExchange seen;
  do {
    seen = Exchange(server.Port(), Request("GET", kPlainPath), kNormalWait);
    if (seen.Answer.starts_with("HTTP/1.1 200 ") && seen.Answer.ends_with(expected)) return testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (TClock::now() < deadline);
  return testing::AssertionFailure() << "a plain GET afterwards got \"" << seen.Answer.substr(0, seen.Answer.find('\r'))
                                     << "\"" << (seen.ClosedByServer ? "" : " and no close");
}

std::string HowItEnded(const TServerProcess& server) {
  const long killed = server.GuardKillKiB();
  return "the server ended" + (killed > 0 ? Format(" (killed by the memory guard at %.1f MiB)", MiB(killed)) : "");
}

std::string MemoryFigures(const TServerProcess& server, long beforeKiB) {
  if (!server.Running()) return "; " + HowItEnded(server);
  return Format("; resident %.1f MiB before, %.1f MiB at the peak, %.1f MiB after", MiB(beforeKiB),
                MiB(server.PeakKiB()), MiB(server.ResidentKiB()));
}

void Report(const std::string& line) {
  std::printf("[  figures ] %s\n", line.c_str());
  std::fflush(stdout);
}

std::string Format(const char* format, ...) {
  std::va_list values;
  va_start(values, format);
  std::va_list again;
  va_copy(again, values);
  std::string text(static_cast<std::size_t>(std::vsnprintf(nullptr, 0, format, values)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  va_end(values);
  return text;
}

double MiB(long kib) { return static_cast<double>(kib) / kKiBPerMiB; }

}  // namespace hostile
