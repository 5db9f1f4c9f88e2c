// Hostile clients of the TLS port: handshakes that trickle, never end or are garbage, a storm
// of full handshakes while another client still wants answers, and floods of records. The cases
// run side by side against one server of their own, with the operator's certificate and key.

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "support/TestCertificate.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr long kGuardKiB = 256 * kKiBPerMiB;

// A self-signed certificate for 127.0.0.1 and its key, written as PEM files.
void WriteCredentials(const std::filesystem::path& chain, const std::filesystem::path& key) {
  const TTestCertificate made = MakeSelfSignedCertificate("127.0.0.1");
  std::ofstream(chain) << made.ChainPem;
  std::ofstream(key) << made.KeyPem;
}

SSL_CTX* ClientContext() {
  static SSL_CTX* const context = SSL_CTX_new(TLS_client_method());
  return context;
}

// A TLS client over a blocking loopback socket (every wait bounded by its timeouts).
class TTlsClient {
public:
  TTlsClient(int port, const char* from) : FSocket(port, from), FSession(SSL_new(ClientContext())) {
    SSL_set_fd(FSession, FSocket.Fd());
  }
  ~TTlsClient() { SSL_free(FSession); }
  bool Handshake() { return FSocket.Connected() && SSL_connect(FSession) == 1; }
  bool Write(const std::string& bytes) {
    return SSL_write(FSession, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }
  // What arrives until it ends with ending, or the server ends the stream.
  std::string ReadUntil(const std::string& ending) {
    std::string all;
    char block[16384];
    int n;
    while (!all.ends_with(ending) && (n = SSL_read(FSession, block, sizeof block)) > 0)
      all.append(block, static_cast<std::size_t>(n));
    return all;
  }
  testsock::TClient& Socket() { return FSocket; }

private:
  testsock::TClient FSocket;
  SSL* FSession;
};

// The bytes of a ClientHello, as a real client would send them first.
std::string ClientHello() {
  SSL* session = SSL_new(ClientContext());
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(session, in, out);
  SSL_connect(session);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string hello(data, static_cast<std::size_t>(size));
  SSL_free(session);
  return hello;
}

// Full handshakes as fast as four clients can make them, for seconds, while a fifth client from
// another address fetches the file every 100 ms: every fetch must succeed, none wait long.
struct TStorm {
  double Rate = 0;
  int Fetches = 0, Served = 0;
  double Slowest = 0;
};

TStorm RunStorm(int port, std::chrono::seconds length, bool (*servesOverTls)(const char*)) {
  std::atomic<bool> stop{false};
  std::atomic<long> handshakes{0};
  std::vector<std::future<void>> storm;
  const char* const sources[] = {"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"};
  for (const char* source : sources) {
    storm.push_back(std::async(std::launch::async, [&, source] {
      while (!stop) {
        TTlsClient client(port, source);
        if (client.Handshake()) ++handshakes;
      }
    }));
  }
  TStorm result;
  const auto start = TClock::now();
  while (TClock::now() - start < length) {
    const auto begin = TClock::now();
    result.Served += servesOverTls("127.0.0.15") ? 1 : 0;
    ++result.Fetches;
    result.Slowest = std::max(result.Slowest, std::chrono::duration<double>(TClock::now() - begin).count());
    std::this_thread::sleep_for(milliseconds(100));
  }
  stop = true;
  for (auto& f : storm) f.get();
  result.Rate = handshakes / std::chrono::duration<double>(TClock::now() - start).count();
  return result;
}

class TlsHostile : public testing::Test {
protected:
  static void SetUpTestSuite() {
    // The library writes with plain write(2): a client that has gone must not end this process.
    signal(SIGPIPE, SIG_IGN);
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "velmora-tls-hostile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    sFolder = folder;
    fs::create_directory(sFolder / "root");
    std::ofstream(sFolder / "root" / "a.txt") << "hello";
    WriteCredentials(sFolder / "chain.pem", sFolder / "key.pem");
    sServer = new TServerProcess(VELMORA_BINARY, (sFolder / "root").string(), sFolder.string(), testsock::FreePort(),
                                 kGuardKiB,
                                 {"--tls-cert", (sFolder / "chain.pem").string(), "--tls-key", (sFolder / "key.pem").string()});
    ASSERT_TRUE(sServer->Start(4096)) << sServer->Error();
  }
  static void TearDownTestSuite() {
    if (sServer != nullptr) {
      EXPECT_EQ(sServer->Stop(), 0) << sServer->Error();
    }
    delete sServer;
    sServer = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(sFolder, ignored);
  }

  // A whole GET of the small file over TLS from source, within the clients' timeouts.
  static bool ServesOverTls(const char* source) {
    TTlsClient client(sServer->Port(), source);
    return client.Handshake() && client.Write(Request("GET", "/a.txt")) &&
           client.ReadUntil("\r\n\r\nhello").ends_with("\r\n\r\nhello");
  }

  static inline TServerProcess* sServer = nullptr;
  static inline std::filesystem::path sFolder;
};

// Handshakes that do not end: a ClientHello trickled a byte every 100 ms, one cut short, one
// that is garbage after the record byte, and 200 connections holding half a record each, while
// a storm of full handshakes goes on beside a client that is served. The first two end at the
// handshake limit (10 s); garbage at once.
TEST_F(TlsHostile, HandshakesThatNeverEndAreClosedAndOthersStillServedInAStorm) {
  const int port = sServer->Port();
  const std::string hello = ClientHello();
  auto trickled = std::async(std::launch::async, [&] {
    testsock::TClient client(port, "127.0.0.3");
    const auto start = TClock::now();
    for (char byte : hello) {
      if (!client.Send(std::string(1, byte))) break;
      std::this_thread::sleep_for(milliseconds(100));
      if (TClock::now() - start > seconds(14)) return -1.0;
    }
    client.ReceiveAll();
    return std::chrono::duration<double>(TClock::now() - start).count();
  });
  auto cut = std::async(std::launch::async, [&] {
    return Exchange(port, hello.substr(0, hello.size() / 2), seconds(15), "127.0.0.4");
  });
  // A whole record whose message is no handshake message.
  const TExchange garbage = Exchange(port, std::string("\x16\x03\x01\x00\x08GET / HT", 13), seconds(5), "127.0.0.5");
  EXPECT_TRUE(garbage.ClosedByServer);
  EXPECT_LT(garbage.Seconds, 2.0);

  TCrowd crowd(port, {"127.0.0.6", "127.0.0.7"}, 200, std::string("\x16\x03\x01", 3),
                [](std::size_t, std::string_view) {});
  EXPECT_TRUE(crowd.RunUntilTaken(TClock::now() + seconds(5)));
  EXPECT_TRUE(ServesOverTls("127.0.0.8"));
  const TStorm storm = RunStorm(port, seconds(3), ServesOverTls);
  EXPECT_EQ(storm.Served, storm.Fetches);
  EXPECT_LT(storm.Slowest, 2.0);
  EXPECT_GT(storm.Rate, 100.0);
  crowd.RunUntil(TClock::now() + seconds(9));
  EXPECT_EQ(crowd.Closed(), crowd.Count()) << "held past the handshake limit: " << crowd.Held();

  const TExchange half = cut.get();
  EXPECT_TRUE(half.ClosedByServer);
  EXPECT_GT(half.Seconds, 9.0);
  EXPECT_LT(half.Seconds, 12.0);
  const double trickleSeconds = trickled.get();
  EXPECT_GT(trickleSeconds, 0.0) << "a trickled handshake was held for 14 s";
  EXPECT_LT(trickleSeconds, 12.0);
  Report(Format("TLS: trickled handshake closed after %.1f s, half a ClientHello after %.1f s, garbage after %.2f s",
                trickleSeconds, half.Seconds, garbage.Seconds));
  Report(Format("TLS: %.0f full handshakes a second for 3 s beside 200 half-open ones; another client served %d "
                "of %d, slowest %.3f s",
                storm.Rate, storm.Served, storm.Fetches, storm.Slowest));
}

// Floods of records once the session stands: 16 MiB of valid records in a request head that
// never ends (refused at the head limit), and records that do not decrypt (the session ends at
// the first). Memory stays bounded; the server goes on serving.
TEST_F(TlsHostile, RecordFloodsEndTheirSessions) {
  const int port = sServer->Port();
  const long before = sServer->ResidentKiB();
  sServer->ResetPeak();
  auto valid = std::async(std::launch::async, [&] {
    TTlsClient client(port, "127.0.0.21");
    if (!client.Handshake()) return std::string("no handshake");
    client.Write("GET /a.txt HTTP/1.1\r\nX-Flood: ");
    const std::string block(16384, 'a');
    int sent = 0;
    for (; sent < 1024 && client.Write(block); ++sent) {
    }
    return sent < 1024 ? std::string() : std::string("16 MiB taken without a close");
  });
  auto broken = std::async(std::launch::async, [&] {
    TTlsClient client(port, "127.0.0.22");
    if (!client.Handshake()) return std::string("no handshake");
    // Application data records of the right form whose contents do not decrypt.
    std::string record("\x17\x03\x03\x40\x00", 5);
    record.append(0x4000, '\x5a');
    for (int i = 0; i < 1024; ++i)
      if (!client.Socket().Send(record)) return std::string();
    return std::string("broken records taken without a close");
  });
  EXPECT_EQ(valid.get(), "");
  EXPECT_EQ(broken.get(), "");
  EXPECT_TRUE(ServesOverTls("127.0.0.23"));
  const long peak = sServer->PeakKiB();
  EXPECT_LT(peak - before, 64 * kKiBPerMiB) << MemoryFigures(*sServer, before);
  Report(Format("TLS: record floods ended; resident %.1f MiB before, peak %.1f MiB", MiB(before), MiB(peak)));
}

}  // namespace
