// The program without a window, run as a real process: its exits, its log on standard output,
// and what browsers, curl and wget get from it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>

#include "AppTestSupport.h"
#include "app/AddressList.h"
#include "support/TestSockets.h"

namespace {

// A bound for a hang, not a measure of speed: a sanitized build on a busy machine fills its two
// type tables from the system's database for many seconds before it listens.
constexpr int kWaitMs = 90000;

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Runs build/velmora --headless in the C locale at UTC, without a display; stops it with a
/// signal.
class THeadlessProcess {
public:
  THeadlessProcess() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    environment.insert("TZ", "UTC");
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      environment.remove(name);
    FProcess.setProcessEnvironment(environment);
  }
  ~THeadlessProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(kWaitMs);
    }
  }

  void Start(const QStringList& args) { StartWithoutHeadless(QStringList{"--headless"} + args); }
  void StartWithoutHeadless(const QStringList& args) {
    FProcess.start(VELMORA_BINARY, args);
    ASSERT_TRUE(FProcess.waitForStarted(kWaitMs));
  }
  /// Starts it as an ordinary user: as nobody, without capabilities, when the test runs as root.
  void StartUnprivileged(const QStringList& args) {
    if (::geteuid() != 0) {
      Start(args);
      return;
    }
    FProcess.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
                                          VELMORA_BINARY, "--headless"} +
                                  args);
    ASSERT_TRUE(FProcess.waitForStarted(kWaitMs));
  }

  /// Waits until standard output holds text; false when the program ended or time ran out.
  bool WaitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (FOutput.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (!FProcess.waitForReadyRead(100) && FProcess.state() == QProcess::NotRunning) {
        FOutput += FProcess.readAllStandardOutput().toStdString();
        return FOutput.find(text) != std::string::npos;
      }
      FOutput += FProcess.readAllStandardOutput().toStdString();
    }
    return true;
  }

  /// Sends the signal and returns the exit status (-1 when the program did not end in time).
  int Stop(int signal = SIGTERM) {
    ::kill(static_cast<pid_t>(FProcess.processId()), signal);
    return Finish();
  }

  /// Waits for the program to end by itself and returns its exit status.
  int Finish() {
    if (!FProcess.waitForFinished(kWaitMs)) return -1;
    FOutput += FProcess.readAllStandardOutput().toStdString();
    FError += FProcess.readAllStandardError().toStdString();
    return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
  }

  const std::string& Output() const { return FOutput; }
  const std::string& Error() const { return FError; }

private:
  QProcess FProcess;
  std::string FOutput, FError;
};

/// A port held by a listening socket on every address, as another server would hold it.
class THeldPort {
public:
  explicit THeldPort(int port) : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(FFd, 1) != 0)
      FError = errno;
  }
  ~THeldPort() { ::close(FFd); }
  THeldPort(const THeldPort&) = delete;
  THeldPort& operator=(const THeldPort&) = delete;

  bool Listening() const { return FError == 0; }
  int Error() const { return FError; }

private:
  const int FFd;
  int FError = 0;
};

/// A published folder with a file, a subfolder, a hidden file and a Japanese name.
class HeadlessTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FTemp.isValid());
    ASSERT_TRUE(QDir(FTemp.path()).mkpath("pub/sub"));
    WriteFile(Root() + "/a.txt", "hello");
    WriteFile(Root() + "/.secret", "hidden");
    WriteFile(Root() + "/sub/b.bin", QByteArray(70000, 'b'));
    WriteFile(Root() + QString::fromUtf8("/日本語.txt"), "nihongo");
    FPort = testsock::FreePort();
  }

  QString Root() const { return FTemp.path() + "/pub"; }
  QString Port() const { return QString::number(FPort); }
  QString Url(const QString& path) const { return "http://127.0.0.1:" + Port() + path; }

  void StartServing(THeadlessProcess& server, const QStringList& options = {}) {
    server.Start(QStringList{"--port", Port()} + options + QStringList{Root()});
    ASSERT_TRUE(server.WaitForOutput("サーバ起動\n")) << server.Output();
  }

  std::string Exchange(const std::string& request) {
    testsock::TClient client(FPort);
    EXPECT_TRUE(client.Connected());
    client.Send(request);
    return client.ReceiveAll();
  }

  /// Runs a command line tool to its end; returns its exit status.
  static int Run(const QString& program, const QStringList& args, QByteArray* output = nullptr) {
    QProcess tool;
    tool.start(program, args);
    if (!tool.waitForFinished(kWaitMs)) {
      tool.kill();
      tool.waitForFinished();
      return -1;
    }
    if (output != nullptr) *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
  }

  QTemporaryDir FTemp;
  int FPort = 0;
};

// Exits
TEST_F(HeadlessTest, StopsOnSigtermAndSigintWithTheStopLine) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    THeadlessProcess server;
    StartServing(server);
    EXPECT_EQ(server.Stop(signal), 0);
    EXPECT_TRUE(std::regex_search(server.Output(),
                                  std::regex(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d サーバ起動\n)")))
        << server.Output();
    EXPECT_TRUE(std::regex_search(server.Output(), std::regex(R"(\n\d{4}/\d\d/\d\d \d\d:\d\d:\d\d サーバ停止\n$)")))
        << server.Output();
  }
}

// Every line a command-line error prints before the usage: Japanese, then the English beside it.
void ExpectBilingualLinesThenTheUsage(const std::string& error) {
  const std::size_t usage = error.find("usage: velmora --headless");
  ASSERT_NE(usage, std::string::npos) << error;
  const QStringList lines = QString::fromStdString(error.substr(0, usage)).split('\n', Qt::SkipEmptyParts);
  EXPECT_FALSE(lines.isEmpty());
  for (const QString& line : lines) {
    const qsizetype divide = line.indexOf(" / ");
    ASSERT_GT(divide, 0) << line.toStdString();
    EXPECT_FALSE(IsAscii(line.left(divide).toStdString())) << line.toStdString();
    EXPECT_TRUE(IsAscii(line.mid(divide).toStdString())) << line.toStdString();
  }
}

TEST_F(HeadlessTest, WithoutAUsableRootExits2NamingThePathThenTheUsage) {
  const QString missing = FTemp.path() + "/nosuch";
  for (const QStringList& args : {QStringList{}, QStringList{missing}, QStringList{"--port", "8080"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    std::string expected = "ルートフォルダを指定してください。 / Give the folder to publish.\n";
    if (args.contains(missing))
      expected += "velmora: フォルダもファイルもありません: " + missing.toStdString() + " / no folder or file at " +
                  missing.toStdString() + "\n";
    EXPECT_EQ(0u, server.Error().rfind(expected + "usage: velmora --headless", 0)) << server.Error();
    ExpectBilingualLinesThenTheUsage(server.Error());
    EXPECT_TRUE(server.Output().empty());
  }
}

TEST_F(HeadlessTest, BadCommandLinesExit2WithTheUsage) {
  for (const QStringList& args : {QStringList{"--port", "0", Root()}, QStringList{"--port", "http", Root()},
                                  QStringList{"--colour", Root()}, QStringList{Root(), "--port"},
                                  QStringList{"--password-file", FTemp.path() + "/nosuch", Root()}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    if (args.front() == "--password-file")
      EXPECT_NE(server.Error().find(" / cannot read the password file "), std::string::npos) << server.Error();
    else
      ExpectBilingualLinesThenTheUsage(server.Error());
  }
}

// Options and the root in any order, --headless among them, values after "=".
TEST_F(HeadlessTest, OptionsComeInAnyOrder) {
  THeadlessProcess server;
  server.StartWithoutHeadless({Root(), "--port=" + Port(), "--headless", "--include-hidden"});
  ASSERT_TRUE(server.WaitForOutput("サーバ起動\n")) << server.Output();
  EXPECT_EQ(Exchange("GET /.secret HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u);
  EXPECT_EQ(server.Stop(), 0);

  THeadlessProcess version;
  version.StartWithoutHeadless({Root(), "--version"});
  EXPECT_EQ(version.Finish(), 0);
  EXPECT_EQ("Velmora 1.0\n", version.Output());
}

// The window once took "--port" for the root folder and dropped the rest.
TEST_F(HeadlessTest, WindowRefusesOptionsItWouldNotUse) {
  QProcess window;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("XDG_RUNTIME_DIR", FTemp.path());  // private to this user, as Qt wants it
  window.setProcessEnvironment(environment);
  window.start(VELMORA_BINARY, {"--user", "ann", "--password", "pw", Root()});
  ASSERT_TRUE(window.waitForFinished(kWaitMs));
  EXPECT_EQ(2, window.exitCode());
  const std::string error = window.readAllStandardError().toStdString();
  EXPECT_NE(error.find(" / the window takes only a root folder; the options go with --headless\n"), std::string::npos)
      << error;
  ExpectBilingualLinesThenTheUsage(error);
}

TEST_F(HeadlessTest, AnAccessLogThatCannotBeOpenedExits2NamingIt) {
  const QString log = FTemp.path() + "/nosuch/access.log";
  THeadlessProcess server;
  server.Start({"--port", Port(), "--access-log", log, Root()});
  EXPECT_EQ(server.Finish(), 2);
  EXPECT_EQ(server.Error(), "velmora: アクセスログを開けません: " + log.toStdString() +
                                " / cannot open the access log " + log.toStdString() + "\n");
}

// Without a display, and without --headless, the program still answers these.
TEST_F(HeadlessTest, HelpAndVersionExit0WithOrWithoutHeadless) {
  for (const QStringList& args : {QStringList{"--help"}, QStringList{"-h"}, QStringList{"--headless", "--help"},
                                  QStringList{"--headless", "--port", "8080", "-h"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    THeadlessProcess program;
    program.StartWithoutHeadless(args);
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_EQ(0u, program.Output().rfind("usage: velmora --headless", 0)) << program.Output();
    EXPECT_NE(program.Output().find("velmora --help | --version\n"), std::string::npos);
    // Every option with what it means, the port rule among them.
    for (const char* option : {"\n  --headless ", "\n  --port N ", "\n  --user NAME ", "\n  --password PASS ",
                               "\n  --password-file FILE ", "\n  --exclude-readonly ", "\n  --include-hidden ",
                               "\n  --include-system ", "\n  --ext EXT ", "\n  --access-log FILE ",
                               "\n  --keep-alive ", "\n  -h, --help ", "\n  --version ",
                               "net.ipv4.ip_unprivileged_port_start", "else 8080\n"})
      EXPECT_NE(program.Output().find(option), std::string::npos) << option;
  }
  for (const QStringList& args : {QStringList{"--version"}, QStringList{"--headless", "--version"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    THeadlessProcess program;
    program.StartWithoutHeadless(args);
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_EQ("Velmora 1.0\n", program.Output());
  }
}

TEST_F(HeadlessTest, TakenPortExits1SayingSo) {
  const THeldPort taken(FPort);
  ASSERT_TRUE(taken.Listening());
  THeadlessProcess server;
  server.Start({"--port", Port(), Root()});
  EXPECT_EQ(server.Finish(), 1);
  EXPECT_EQ(server.Output(), "exception : EIdCouldNotBindSocket\n");
  EXPECT_EQ(0u, server.Error().rfind("velmora: ポート " + Port().toStdString() + " は使用中です"));
  EXPECT_NE(server.Error().find(" / Port " + Port().toStdString() +
                                " is in use (by another program, or another Velmora): stop it, or choose another "
                                "port with --port.\n"),
            std::string::npos)
      << server.Error();
  EXPECT_EQ(server.Error().find("--port 8080"), std::string::npos) << "a hint only for want of privileges";
}

// Whether an ordinary user may bind port 80 on this system anyway (then it is the default for all).
bool AnyoneMayBind80() {
  std::ifstream setting("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  int start = 1024;
  setting >> start;
  return start <= 80;
}

// A user who forgot --port once got "Socket Error # 10013" and nothing more.
TEST_F(HeadlessTest, PortNeedingPrivilegesSaysSoAndSuggests8080OrTheCapability) {
  if (AnyoneMayBind80()) GTEST_SKIP() << "every user may bind port 80 here";
  ASSERT_TRUE(QFile::setPermissions(FTemp.path(), QFile::permissions(FTemp.path()) | QFile::ExeOther));
  THeadlessProcess server;
  server.StartUnprivileged({"--port", "80", Root()});
  EXPECT_EQ(server.Finish(), 1);
  EXPECT_EQ(server.Output(), "exception : EIdSocketError\n");
  const std::string& error = server.Error();
  EXPECT_EQ(0u, error.rfind("velmora: ポート 80 を使うには権限が必要です。")) << error;
  EXPECT_NE(error.find(" / Port 80 needs privileges: use --port 8080, or run with the right to bind ports below 1024 "
                       "(sudo setcap cap_net_bind_service=+ep " +
                       QFileInfo(VELMORA_BINARY).canonicalFilePath().toStdString() + ").\n"),
            std::string::npos)
      << error;
  EXPECT_EQ(error.find("10013"), std::string::npos) << error;
}

// The first start of an ordinary user, without --port, once failed on port 80.
TEST_F(HeadlessTest, WithoutAPortAnOrdinaryUserGets8080) {
  if (AnyoneMayBind80()) GTEST_SKIP() << "every user may bind port 80 here";
  ASSERT_TRUE(QFile::setPermissions(FTemp.path(), QFile::permissions(FTemp.path()) | QFile::ExeOther));
  THeadlessProcess server;
  server.StartUnprivileged({Root()});
  // Another program of this machine may hold 8080: then the failure names it.
  if (server.WaitForOutput("サーバ起動\n")) {
    ASSERT_TRUE(server.WaitForOutput(":8080/?browse\n")) << server.Output();
    EXPECT_EQ(server.Stop(), 0);
  } else {
    EXPECT_EQ(server.Finish(), 1);
    EXPECT_EQ(0u, server.Error().rfind("velmora: ポート 8080 は使用中です")) << server.Error();
  }
}

TEST_F(HeadlessTest, StartLineIsFollowedByTheAddressesToOpen) {
  THeadlessProcess server;
  StartServing(server);
  ASSERT_EQ(server.Stop(), 0);
  const QStringList lines = QString::fromStdString(server.Output()).split('\n', Qt::SkipEmptyParts);
  QStringList expected;
  for (const std::string& address : HostAddresses())
    if (expected.size() < kMaxAddressEntries) expected << QString::fromStdString(AddressEntry(address, true, FPort) + "?browse");
  ASSERT_FALSE(expected.isEmpty());  // loopback at least
  ASSERT_EQ(expected.size() + 2, lines.size()) << server.Output();
  EXPECT_TRUE(lines.front().endsWith(" サーバ起動"));
  EXPECT_EQ(expected, lines.mid(1, expected.size()));
  EXPECT_TRUE(lines.back().endsWith(" サーバ停止"));
}

// Serving
TEST_F(HeadlessTest, AnswersListingsAndFilesAndLogsEveryRequest) {
  THeadlessProcess server;
  StartServing(server);

  const std::string listing = Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  const std::string listingHead = "HTTP/1.1 200 OK(&O)\r\nConnection: close\r\nContent-Type: text/html; charset=UTF-8\r\n";
  ASSERT_EQ(listing.compare(0, listingHead.size(), listingHead), 0) << listing;
  EXPECT_NE(listing.find("Server: Velmora/1.0\r\n\r\n"), std::string::npos);
  EXPECT_NE(listing.find("a.txt"), std::string::npos);
  EXPECT_NE(listing.find("%E6%97%A5%E6%9C%AC%E8%AA%9E.txt"), std::string::npos);  // 日本語.txt
  EXPECT_EQ(listing.find(".secret"), std::string::npos);

  EXPECT_TRUE(std::regex_match(Exchange("GET /a.txt HTTP/1.1\r\n\r\n"),
                               std::regex("HTTP/1\\.1 200 OK\\(&O\\)\r\nConnection: close\r\nContent-Type: text/plain\r\n"
                                          "Content-Length: 5\r\nServer: Velmora/1\\.0\r\nAccept-Ranges: bytes\r\n"
                                          "Last-Modified: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n"
                                          "Content-Disposition: inline; filename=\"a\\.txt\"; filename\\*=UTF-8''a\\.txt\r\n"
                                          "\r\nhello")));
  EXPECT_EQ(Exchange("GET /.secret HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);

  ASSERT_TRUE(server.WaitForOutput(" /.secret 127.0.0.1\n"));
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(std::regex_search(server.Output(), std::regex(R"(\n\d{4}/\d\d/\d\d \d\d:\d\d:\d\d / 127\.0\.0\.1\n)")));
  EXPECT_TRUE(
      std::regex_search(server.Output(), std::regex(R"(\n\d{4}/\d\d/\d\d \d\d:\d\d:\d\d /a\.txt 127\.0\.0\.1\n)")));
}

TEST_F(HeadlessTest, CurlDownloadsAJapaneseNameAndWgetMirrorsTheTree) {
  THeadlessProcess server;
  StartServing(server);
  QByteArray body;
  ASSERT_EQ(Run("curl", {"-sf", Url("/%E6%97%A5%E6%9C%AC%E8%AA%9E.txt")}, &body), 0);
  EXPECT_EQ(body, "nihongo");

  const QString mirror = FTemp.path() + "/mirror";
  ASSERT_EQ(Run("wget", {"-q", "-r", "-np", "-nH", "-P", mirror, Url("/")}), 0);
  EXPECT_EQ(ReadFile(mirror + "/a.txt"), "hello");
  EXPECT_EQ(ReadFile(mirror + "/sub/b.bin"), QByteArray(70000, 'b'));
  EXPECT_EQ(ReadFile(mirror + QString::fromUtf8("/日本語.txt")), "nihongo");
  EXPECT_FALSE(QFile::exists(mirror + "/.secret"));
  EXPECT_EQ(server.Stop(), 0);
}

TEST_F(HeadlessTest, PasswordFromAFileGuardsEveryRequest) {
  WriteFile(FTemp.path() + "/pw", "s3cret\n");
  THeadlessProcess server;
  StartServing(server, {"--user", "ann", "--password-file", FTemp.path() + "/pw"});
  QByteArray body;
  EXPECT_NE(Run("curl", {"-sf", Url("/a.txt")}), 0);
  EXPECT_NE(Run("curl", {"-sf", "-u", "ann:s3cret\n", Url("/a.txt")}), 0);
  ASSERT_EQ(Run("curl", {"-sf", "-u", "ann:s3cret", Url("/a.txt")}, &body), 0);
  EXPECT_EQ(body, "hello");
  const std::string challenge = Exchange("GET /a.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(challenge.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << challenge;
  EXPECT_NE(challenge.find("WWW-Authenticate: Basic realm=\"Velmora User Authentication.\"\r\n"), std::string::npos);
  EXPECT_EQ(server.Stop(), 0);
}

TEST_F(HeadlessTest, IndexOfTheDeepestFolderAPathCanNameFitsAConnectionThread) {
  // The index walk goes one frame deeper per folder level, on the connection thread's stack.
  QString deepest = Root() + "/deep";
  int levels = 0;
  for (; deepest.size() + 4 < 4095 - 2; ++levels) deepest += "/d";
  ASSERT_TRUE(QDir().mkpath(deepest));
  WriteFile(deepest + "/f", "x");
  THeadlessProcess server;
  StartServing(server);
  const std::string index = Exchange("GET /deep/index.xml HTTP/1.1\r\n\r\n");
  EXPECT_EQ(index.rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u) << index.substr(0, 200);
  std::string deepestName;
  for (int i = 0; i < levels; ++i) deepestName += "\\d";
  EXPECT_NE(index.find("xmlns:Name=\"" + deepestName + "\\f\""), std::string::npos);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
