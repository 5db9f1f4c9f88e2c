// The headless program under hostile clients, run as a real process on a free loopback port:
// paths that reach for withheld files, a crowd of slow connections, oversized request heads and
// bodies, and many large downloads at once. After each attack the server must still serve a
// plain request; at the end it must stop cleanly on SIGTERM. Each check prints the figures it
// saw. The counts and the times are bounded, so the program always ends by itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "hostile/DownloadCheck.h"
#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"

namespace {

using namespace hostile;
using namespace std::string_literals;
using std::chrono::seconds;

// A request line as a trace can show it: control bytes as \xNN.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char byte : text) {
    if (static_cast<unsigned char>(byte) >= 0x20) {
      shown += byte;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(byte));
    shown += escaped;
  }
  return shown;
}

std::string FirstLine(const std::string& answer) {
  return answer.empty() ? "nothing" : "\"" + answer.substr(0, answer.find('\r')) + "\"";
}

class HostileClients : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(THostileEnvironment::Server().Running()); }
  TServerProcess& Server() { return THostileEnvironment::Server(); }
};

// Withheld entries, at any depth and however the target is spelled
enum class TExpect { NotFound, Refused, Listed };
struct TPathCase {
  std::string Request;
  TExpect Expect;
};
const TPathCase kPathCases[] = {
    {Request("GET", "/.ssh/id_rsa"), TExpect::NotFound},
    {Request("HEAD", "/.ssh/id_rsa"), TExpect::NotFound},
    {Request("GET", "/.git/config"), TExpect::NotFound},
    {Request("GET", "/.git/"), TExpect::NotFound},
    {Request("GET", "/.ssh/index.xml"), TExpect::NotFound},
    {Request("GET", "/a/.hidden/b.txt"), TExpect::NotFound},
    {Request("GET", "/a/.hidden/"), TExpect::NotFound},
    {Request("GET", "/%2essh/id_rsa"), TExpect::NotFound},       // the dot escaped
    {Request("GET", "/a/%2Ehidden/b.txt"), TExpect::NotFound},
    {Request("GET", "/.ssh%5cid_rsa"), TExpect::NotFound},       // a backslash between
    {Request("GET", "//.ssh//id_rsa"), TExpect::NotFound},       // doubled slashes
    {Request("GET", "/a/.hidden/../../.env"), TExpect::NotFound},  // down through a hidden folder and back
    {Request("GET", "/a/..%2f.ssh/id_rsa"), TExpect::NotFound},
    // Control bytes, raw or escaped, are refused before anything reads the path: the file
    // system would read it only up to a NUL, the withheld rule past it.
    {"GET /.env\0/a HTTP/1.0\r\n\r\n"s, TExpect::Refused},
    {Request("GET", "/a.txt%01"), TExpect::Refused},
    {Request("GET", "/a.txt%7F"), TExpect::Refused},
    // An escaped NUL leaves no byte behind.
    {Request("GET", "/.env%00"), TExpect::NotFound},
    {Request("GET", "/.env%00/a"), TExpect::NotFound},
    {Request("GET", "/%00/index.xml"), TExpect::Listed},
    {Request("GET", "/"), TExpect::Listed},
    {Request("GET", "/a/"), TExpect::Listed},
    {Request("GET", "/index.xml"), TExpect::Listed},
    {Request("GET", "/a/index.xml"), TExpect::Listed},
};

bool AsExpected(TExpect expect, const TExchange& seen) {
  switch (expect) {
    case TExpect::NotFound:
      return seen.Answer.starts_with("HTTP/1.1 404 ");
    case TExpect::Refused:
      return seen.ClosedByServer && seen.Answer.empty();
    case TExpect::Listed:
      return seen.Answer.starts_with("HTTP/1.1 200 ");
  }
  return false;
}

// What an answer shows of the withheld files: their contents, their names.
std::string Leaked(const std::string& answer) {
  std::string found;
  for (const TWithheldFile& file : kWithheldFiles) {
    if (answer.find(file.Content) != std::string::npos) found += " the content of " + std::string(file.Path) + ";";
  }
  for (const char* name : kWithheldNames) {
    if (answer.find(name) != std::string::npos) found += " the name " + std::string(name) + ";";
  }
  return found;
}

TEST_F(HostileClients, WithheldEntriesLeakNoByte) {
  int expected = 0, leaking = 0;
  for (const TPathCase& c : kPathCases) {
    const std::string line = Printable(c.Request.substr(0, c.Request.find('\r')));
    const TExchange seen = Exchange(Server().Port(), c.Request, seconds(5));
    const std::string leaked = Leaked(seen.Answer);
    expected += AsExpected(c.Expect, seen) ? 1 : 0;
    leaking += leaked.empty() ? 0 : 1;
    EXPECT_TRUE(AsExpected(c.Expect, seen)) << line << ": " << FirstLine(seen.Answer);
    EXPECT_EQ(leaked, "") << line;
  }
  Report(Format("%zu requests for withheld entries: %d answered as they should be, %d showing withheld contents or names",
                std::size(kPathCases), expected, leaking));
  EXPECT_TRUE(ServesNormally(Server()));
}

// A crowd of slow connections from one address
constexpr std::size_t kSlowConnections = 2000;
constexpr std::size_t kPerAddressCap = 128;
constexpr std::size_t kAnswerStart = 64;  // enough of an answer to see its status line

TEST_F(HostileClients, SlowCrowdFromOneAddressDoesNotDelayAnother) {
  Server().ResetPeak();
  const long before = Server().ResidentKiB();
  std::string figures;
  {
    std::vector<std::string> firstBytes(kSlowConnections);
    // Half a head each: a request line and a Host line, never the empty line that ends it.
    TCrowd crowd(Server().Port(), {"127.0.0.1"}, kSlowConnections, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n",
                 [&firstBytes](std::size_t index, std::string_view bytes) {
                   if (firstBytes[index].size() < kAnswerStart) firstBytes[index].append(bytes.substr(0, kAnswerStart));
                 });
    const auto start = TClock::now();
    const bool allTaken = crowd.RunUntilTaken(start + seconds(30));
    const double openSeconds = std::chrono::duration<double>(TClock::now() - start).count();
    crowd.RunUntil(TClock::now() + seconds(1));  // the ones over the caps are closed at once
    const auto with503 = std::count_if(firstBytes.begin(), firstBytes.end(),
                                       [](const std::string& bytes) { return bytes.starts_with("HTTP/1.1 503"); });

    const TExchange other = Exchange(Server().Port(), Request("GET", kPlainPath), seconds(5), "127.0.0.2");
    figures = Format("%zu slow connections from 127.0.0.1, opened in %.1f s: %zu held, %zu closed by the server (%td "
                     "of them with a 503), %zu not connected; a GET from 127.0.0.2 answered in %.0f ms with %s",
                     kSlowConnections, openSeconds, crowd.Held(), crowd.Closed(), with503, crowd.Failed(),
                     other.Seconds * 1000, FirstLine(other.Answer).c_str());
    EXPECT_TRUE(allTaken) << "not every connection was taken by the server's kernel after 30 s";
    EXPECT_LE(crowd.Held(), kPerAddressCap);
    EXPECT_TRUE(other.Answer.starts_with("HTTP/1.1 200 ") && other.Answer.ends_with(kPlainContent))
        << FirstLine(other.Answer);
    EXPECT_LT(other.Seconds, 1.0);
  }
  const bool servesAfter = ServesNormally(Server());
  Report(figures + MemoryFigures(Server(), before));
  EXPECT_TRUE(servesAfter);
}

// Many large downloads at once, from several addresses so that no address reaches its cap
constexpr std::size_t kDownloads = 500;
const std::vector<std::string> kDownloadSources{"127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"};
constexpr long kDownloadResidentLimitKiB = 200 * kKiBPerMiB;

TEST_F(HostileClients, ManyLargeDownloadsArriveIntactInBoundedMemory) {
  TDownloadCheck check(THostileEnvironment::BigContent(), kDownloads);
  Server().ResetPeak();
  const long before = Server().ResidentKiB();
  TCrowd crowd(Server().Port(), kDownloadSources, kDownloads, Request("GET", kBigPath),
               [&check](std::size_t index, std::string_view bytes) { check.Take(index, bytes); });
  const auto start = TClock::now();
  crowd.RunUntil(start + seconds(60));
  const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
  const long peak = Server().PeakKiB();
  Report(Format("%zu downloads of %zu MiB: %zu intact in %.1f s, %.0f MiB/s in all", kDownloads, kBigSize >> 20,
                check.Intact(), elapsed, static_cast<double>(check.BodyBytes() >> 20) / elapsed) +
         MemoryFigures(Server(), before));
  EXPECT_EQ(check.Intact(), kDownloads) << check.FirstFault() << " (" << crowd.Failed() << " not connected)";
  ASSERT_TRUE(Server().Running()) << HowItEnded(Server());
  EXPECT_LT(peak, kDownloadResidentLimitKiB);
  EXPECT_TRUE(ServesNormally(Server()));
}

// Oversized heads and bodies: each refused at once, without an answer, in bounded memory
struct THeadAttack {
  const char* Name;
  std::string (*Build)();
};

std::string Repeated(const std::string& piece, std::size_t times) {
  std::string all;
  all.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) all += piece;
  return all;
}

const THeadAttack kHeadAttacks[] = {
    {"HeadOf100000Lines", [] { return Request("GET", kPlainPath, Repeated("X-Filler: 1\r\n", 100000)); }},
    {"HeaderLineOf10MB", [] { return Request("GET", kPlainPath, "X-Long: " + std::string(10000000, 'a') + "\r\n"); }},
    {"FoldedLinesOf1MB",  // 1.08 MB of continuation lines
     [] { return Request("GET", kPlainPath, "X-Folded: start\r\n" + Repeated(" folded\r\n", 120000)); }},
    {"AnnouncedBodyOf2GB", [] { return Request("POST", kPlainPath, "Content-Length: 2000000000\r\n"); }},
    {"CookieFloodOf100000Lines",
     [] { return Request("GET", kPlainPath, Repeated("Cookie: " + std::string(64, ';') + "\r\n", 100000)); }},
};
constexpr long kHeadGrowthLimitKiB = 16 * kKiBPerMiB;

// Test names and failures show the attack by its name.
void PrintTo(const THeadAttack& attack, std::ostream* out) { *out << attack.Name; }

class HostileHeads : public HostileClients, public testing::WithParamInterface<THeadAttack> {};

TEST_P(HostileHeads, AreRefusedAtOnceInBoundedMemory) {
  const std::string request = GetParam().Build();
  TServerProcess& server = Server();
  server.ResetPeak();
  const long before = server.ResidentKiB();
  const TExchange seen = Exchange(server.Port(), request, seconds(3));
  const bool running = server.Running();
  const testing::AssertionResult servesAfter =
      running ? ServesNormally(server) : testing::AssertionFailure() << HowItEnded(server);
  const long peak = server.PeakKiB();
  Report(Format("%s (%zu bytes): %s, %zu bytes sent, answer %s", GetParam().Name, request.size(),
                seen.ClosedByServer ? Format("closed after %.0f ms", seen.Seconds * 1000).c_str() : "still open after 3 s",
                seen.Sent, FirstLine(seen.Answer).c_str()) +
         MemoryFigures(server, before));
  EXPECT_TRUE(seen.ClosedByServer);
  EXPECT_LT(seen.Seconds, 1.0);
  EXPECT_TRUE(seen.Answer.empty()) << FirstLine(seen.Answer);
  ASSERT_TRUE(servesAfter);
  EXPECT_LT(peak - before, kHeadGrowthLimitKiB);
}

INSTANTIATE_TEST_SUITE_P(Attacks, HostileHeads, testing::ValuesIn(kHeadAttacks),
                         [](const testing::TestParamInfo<THeadAttack>& info) { return std::string(info.param.Name); });

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new THostileEnvironment);  // owned by GoogleTest
  return RUN_ALL_TESTS();
}
