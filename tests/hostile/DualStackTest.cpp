// The headless program on both address families, each case in a network namespace of its own:
// IPv4 and IPv6 clients on the one socket, addresses named plainly, an IPv6 /64 counted as one
// client by the connection cap and the login lock-out, bracketed URLs, and a machine without
// IPv6. Only the namespace's own loopback interface is used.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::seconds;

constexpr seconds kWait{5};
constexpr long kGuardKiB = 256 * kKiBPerMiB;
constexpr std::size_t kPerAddressCap = 128;

const std::string kWrong = "Authorization: Basic dXNlcjpwYXNz\r\n";  // user:pass
const std::string kRight = "Authorization: Basic dXNlcjpQYXNz\r\n";  // user:Pass

// One /64 of the documentation prefix on the namespace's loopback interface, and one more.
const std::vector<std::string> kSameSlash64 = {"2001:db8:1:2::a", "2001:db8:1:2::b", "2001:db8:1:2::c",
                                               "2001:db8:1:2:ffff::d"};
const std::string kOtherSlash64 = "2001:db8:1:3::a";

// The layout of the kernel's in6_ifreq, which <linux/ipv6.h> would bring with clashing names.
struct TIn6IfReq {
  in6_addr Address;
  std::uint32_t PrefixLength;
  int InterfaceIndex;
};

// The calling thread in a network namespace of its own while this lives: its sockets, and the
// processes it starts, see only the namespace's loopback interface. The thread goes back to its
// namespace at the end.
class TScopedNetNamespace {
public:
  TScopedNetNamespace() : FOriginal(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (FOriginal < 0 || ::unshare(CLONE_NEWNET) != 0) {
      FFailure = std::string("no network namespace of the test's own: ") + std::strerror(errno);
      return;
    }
    FEntered = true;
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    if (!up) FFailure = std::string("loopback interface not brought up: ") + std::strerror(errno);
    ::close(s);
  }
  ~TScopedNetNamespace() {
    if (FEntered) ::setns(FOriginal, CLONE_NEWNET);
    if (FOriginal >= 0) ::close(FOriginal);
  }
  TScopedNetNamespace(const TScopedNetNamespace&) = delete;
  TScopedNetNamespace& operator=(const TScopedNetNamespace&) = delete;

  /// Empty when the namespace is ready, else why not.
  const std::string& Failure() const { return FFailure; }

  /// Adds address/64 to the loopback interface (no duplicate detection runs there).
  bool AddAddress(const std::string& address) {
    const int s = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    TIn6IfReq request{};
    ::inet_pton(AF_INET6, address.c_str(), &request.Address);
    request.PrefixLength = 64;
    request.InterfaceIndex = static_cast<int>(::if_nametoindex("lo"));
    const bool added = s >= 0 && ::ioctl(s, SIOCSIFADDR, &request) == 0;
    if (s >= 0) ::close(s);
    return added;
  }

  /// Switches IPv6 off in the namespace, as on a machine without it.
  static bool DisableIPv6() {
    for (const char* name : {"all", "default", "lo"})
      if (!SetSystemValue(std::string("/proc/sys/net/ipv6/conf/") + name + "/disable_ipv6")) return false;
    return true;
  }
  /// Makes IPv6 sockets take IPv6 clients only unless they say otherwise.
  static bool SetBindV6Only() { return SetSystemValue("/proc/sys/net/ipv6/bindv6only"); }

private:
  static bool SetSystemValue(const std::string& path) {
    std::ofstream setting(path);
    return static_cast<bool>(setting << "1\n" << std::flush);
  }

  const int FOriginal;
  bool FEntered = false;
  std::string FFailure;
};

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find('\r')); }

std::string Header(const std::string& answer, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const std::size_t start = answer.find(key);
  if (start == std::string::npos) return "(none)";
  const std::size_t value = start + key.size();
  return answer.substr(value, answer.find('\r', value) - value);
}

// Whether the server's log shows text within a few seconds.
bool LogShows(const TServerProcess& server, const std::string& text) {
  const auto deadline = TClock::now() + kWait;
  while (server.Output().find(text) == std::string::npos) {
    if (TClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// What a command printed on its standard output; empty when it could not run.
std::string CommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> block;
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), pipe)) > 0) output.append(block.data(), n);
    ::pclose(pipe);
  }
  return output;
}

// A password server with the access log on standard output, over a root of its own, started in
// the namespace the test thread is in.
class TNamespaceServer {
public:
  explicit TNamespaceServer(std::vector<std::string> options) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "velmora-dualstack-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return;
    FFolder = folder;
    fs::create_directories(FFolder / "root" / "sub");
    std::ofstream(FFolder / "root" / "a.txt") << "hello";
    Server = std::make_unique<TServerProcess>(VELMORA_BINARY, (FFolder / "root").string(), FFolder.string(),
                                              testsock::FreePort(), kGuardKiB, std::move(options));
  }
  ~TNamespaceServer() {
    Server.reset();
    std::error_code ignored;
    if (!FFolder.empty()) std::filesystem::remove_all(FFolder, ignored);
  }
  TNamespaceServer(const TNamespaceServer&) = delete;
  TNamespaceServer& operator=(const TNamespaceServer&) = delete;

  TExchange Get(const std::string& target, const std::string& headers, const std::string& source,
                const std::string& host = "127.0.0.1") {
    return Exchange(Server->Port(), "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + headers + "\r\n", kWait,
                    source);
  }

  std::unique_ptr<TServerProcess> Server;

private:
  std::filesystem::path FFolder;
};

const std::vector<std::string> kPasswordOptions{"--user", "user", "--password", "Pass", "--access-log", "-"};

TEST(DualStack, OneSocketServesBothFamiliesAndNamesClientsPlainly) {
  TScopedNetNamespace space;
  if (!space.Failure().empty()) GTEST_SKIP() << space.Failure();
  for (const std::string& address : kSameSlash64) ASSERT_TRUE(space.AddAddress(address)) << address;
  ASSERT_TRUE(space.AddAddress(kOtherSlash64));
  // The socket must take IPv4 clients even where the system's default says otherwise.
  ASSERT_TRUE(TScopedNetNamespace::SetBindV6Only());
  TNamespaceServer run(kPasswordOptions);
  ASSERT_TRUE(run.Server && run.Server->Start(1024)) << run.Server->Error();
  const std::string port = std::to_string(run.Server->Port());

  // The address list names the IPv6 addresses in brackets, after the IPv4 one. Only the first
  // five are printed, and the kernel lists the namespace's addresses in no fixed order. They
  // follow the start line: wait for the last of them.
  std::string output = run.Server->Output();
  for (int waited = 0; waited < 100 && std::count(output.begin(), output.end(), '\n') < 6; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    output = run.Server->Output();
  }
  EXPECT_NE(output.find("http://127.0.0.1:" + port + "/?browse\n"), std::string::npos) << output;
  const std::size_t bracketed = output.find("http://[2001:db8:1:");
  ASSERT_NE(bracketed, std::string::npos) << output;
  EXPECT_NE(output.find("]:" + port + "/?browse\n", bracketed), std::string::npos) << output;
  EXPECT_LT(output.find("http://127.0.0.1:"), bracketed);

  // Both families on the one port; an IPv4 client named dotted in the log and the access log.
  for (const char* source : {"127.0.0.1", "::1", "2001:db8:1:2::a"}) {
    SCOPED_TRACE(source);
    const TExchange seen = run.Get("/a.txt", kRight, source);
    EXPECT_EQ(StatusLine(seen.Answer), "HTTP/1.1 200 OK(&O)");
    EXPECT_TRUE(seen.Answer.ends_with("\r\n\r\nhello"));
    EXPECT_TRUE(LogShows(*run.Server, std::string("/a.txt ") + source + "\n")) << run.Server->Output();
    EXPECT_TRUE(LogShows(*run.Server, std::string("\n") + source + " - user [")) << run.Server->Output();
  }
  EXPECT_EQ(run.Server->Output().find("::ffff:"), std::string::npos) << run.Server->Output();

  // The redirect to a folder's slash keeps the Host as the client wrote it.
  EXPECT_EQ(Header(run.Get("/sub", kRight, "::1", "[::1]:" + port).Answer, "Location"),
            "http://[::1]:" + port + "/sub/");

  // Real clients on the IPv6 loopback address.
  const std::string url = "http://[::1]:" + port + "/a.txt";
  EXPECT_EQ(CommandOutput("curl -g -s --max-time 5 -u user:Pass '" + url + "'"), "hello");
  EXPECT_EQ(CommandOutput("python3 -c \"import base64, urllib.request as u; r = u.Request('" + url +
                          "', headers={'Authorization': 'Basic ' + base64.b64encode(b'user:Pass').decode()}); "
                          "print(u.urlopen(r, timeout=5).read().decode(), end='')\""),
            "hello");
  EXPECT_EQ(run.Server->Stop(), 0) << run.Server->Error();
  EXPECT_EQ(run.Server->Error(), "");
}

// One host may hold a whole /64: its addresses share one connection cap and one lock-out, while
// a client of another /64 is served as ever.
TEST(DualStack, AnIPv6Slash64IsOneClient) {
  TScopedNetNamespace space;
  if (!space.Failure().empty()) GTEST_SKIP() << space.Failure();
  for (const std::string& address : kSameSlash64) ASSERT_TRUE(space.AddAddress(address)) << address;
  ASSERT_TRUE(space.AddAddress(kOtherSlash64));
  TNamespaceServer run(kPasswordOptions);
  ASSERT_TRUE(run.Server && run.Server->Start(1024)) << run.Server->Error();
  const int port = run.Server->Port();

  {
    // Half a head from each of three addresses of the /64, never the empty line that ends it,
    // until the cap is reached; one more, from a fourth address of it, is turned away.
    const std::vector<std::string> three(kSameSlash64.begin(), kSameSlash64.begin() + 3);
    TCrowd crowd(port, three, kPerAddressCap, "GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n",
                 [](std::size_t, std::string_view) {});
    ASSERT_TRUE(crowd.RunUntilTaken(TClock::now() + seconds(20)));
    crowd.RunUntil(TClock::now() + std::chrono::milliseconds(200));
    EXPECT_EQ(crowd.Held(), kPerAddressCap);
    const TExchange over = run.Get("/a.txt", kRight, kSameSlash64[3]);
    EXPECT_EQ(StatusLine(over.Answer), "HTTP/1.1 503 Service Unavailable") << over.Answer;
    const TExchange other = run.Get("/a.txt", kRight, kOtherSlash64);
    EXPECT_EQ(StatusLine(other.Answer), "HTTP/1.1 200 OK(&O)");
  }

  // Ten wrong passwords spread over the /64 lock all of it out, the right one included.
  for (int i = 0; i < 10; ++i) {
    const std::string& source = kSameSlash64[static_cast<std::size_t>(i) % 3];
    EXPECT_EQ(StatusLine(run.Get("/a.txt", kWrong, source).Answer), "HTTP/1.1 401 Unauthorized") << i;
  }
  EXPECT_EQ(StatusLine(run.Get("/a.txt", kRight, kSameSlash64[3]).Answer), "HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(StatusLine(run.Get("/a.txt", kRight, kOtherSlash64).Answer), "HTTP/1.1 200 OK(&O)");
  EXPECT_EQ(StatusLine(run.Get("/a.txt", kRight, "127.0.0.1").Answer), "HTTP/1.1 200 OK(&O)");
  // The lock-out's log line names the address whose failure started it.
  EXPECT_TRUE(LogShows(*run.Server, "(too many failed logins: refused for 60 s) " + kSameSlash64[0] + "\n"))
      << run.Server->Output();
  EXPECT_EQ(run.Server->Stop(), 0) << run.Server->Error();
}

// Without IPv6 the server listens on IPv4 and says nothing about it.
TEST(DualStack, WithoutIPv6ListensOnIPv4Quietly) {
  TScopedNetNamespace space;
  if (!space.Failure().empty()) GTEST_SKIP() << space.Failure();
  ASSERT_TRUE(TScopedNetNamespace::DisableIPv6());
  TNamespaceServer run({});
  ASSERT_TRUE(run.Server && run.Server->Start(1024)) << run.Server->Error();
  const TExchange seen = run.Get("/a.txt", "", "127.0.0.1");
  EXPECT_EQ(StatusLine(seen.Answer), "HTTP/1.1 200 OK(&O)");
  EXPECT_TRUE(LogShows(*run.Server, "/a.txt 127.0.0.1\n")) << run.Server->Output();
  EXPECT_FALSE(run.Get("/a.txt", "", "::1").Connected);
  const std::string output = run.Server->Output();
  EXPECT_EQ(output.find('['), std::string::npos) << output;
  EXPECT_EQ(output.find("exception"), std::string::npos) << output;
  EXPECT_EQ(run.Server->Stop(), 0);
  EXPECT_EQ(run.Server->Error(), "");
}

}  // namespace
