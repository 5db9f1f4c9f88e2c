// The program without a window, run as a real process: its exits, its log on standard output,
// and what browsers, curl and wget get from it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <regex>
#include <string>

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

TEST_F(HeadlessTest, WithoutAUsableRootExits2NamingThePath) {
  const QString missing = FTemp.path() + "/nosuch";
  for (const QStringList& args : {QStringList{}, QStringList{missing}}) {
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    std::string expected = "ルートフォルダを指定してください。\n";
    if (!args.isEmpty()) expected += "velmora: no folder or file at " + missing.toStdString() + "\n";
    EXPECT_EQ(expected, server.Error());
    EXPECT_TRUE(server.Output().empty());
  }
}

TEST_F(HeadlessTest, BadCommandLinesExit2WithTheUsage) {
  for (const QStringList& args : {QStringList{"--port", "0", Root()}, QStringList{"--port", "http", Root()},
                                  QStringList{"--colour", Root()}}) {
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    EXPECT_NE(server.Error().find("usage: velmora --headless"), std::string::npos) << server.Error();
  }
}

TEST_F(HeadlessTest, AnAccessLogThatCannotBeOpenedExits2NamingIt) {
  const QString log = FTemp.path() + "/nosuch/access.log";
  THeadlessProcess server;
  server.Start({"--port", Port(), "--access-log", log, Root()});
  EXPECT_EQ(server.Finish(), 2);
  EXPECT_EQ(server.Error(), "velmora: cannot open the access log " + log.toStdString() + "\n");
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
  }
  for (const QStringList& args : {QStringList{"--version"}, QStringList{"--headless", "--version"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    THeadlessProcess program;
    program.StartWithoutHeadless(args);
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_EQ("Velmora 1.0\n", program.Output());
  }
}

TEST_F(HeadlessTest, TakenPortExits1WithTheExceptionLine) {
  const THeldPort taken(FPort);
  ASSERT_TRUE(taken.Listening());
  THeadlessProcess server;
  server.Start({"--port", Port(), Root()});
  EXPECT_EQ(server.Finish(), 1);
  EXPECT_EQ(server.Output(), "exception : EIdCouldNotBindSocket\n");
  EXPECT_NE(server.Error().find("Could not bind socket. Address and port are already in use."), std::string::npos);
  EXPECT_EQ(server.Error().find("--port 8080"), std::string::npos) << "a hint only for ports below 1024";
}

// A user who forgot --port once got "Socket Error # 10013" and nothing more.
TEST_F(HeadlessTest, FailureOnAPortBelow1024AddsAHint) {
  // A low port this test holds (as root), or one it may not bind at all (as anyone else): the
  // program can bind it either way.
  std::unique_ptr<THeldPort> holder;
  int port = 1023;
  for (; port > 512; --port) {
    holder = std::make_unique<THeldPort>(port);
    if (holder->Listening() || holder->Error() == EACCES) break;
  }
  ASSERT_GT(port, 512);
  THeadlessProcess server;
  server.Start({"--port", QString::number(port), Root()});
  EXPECT_EQ(server.Finish(), 1);
  EXPECT_NE(server.Error().find("\nuse --port 8080, or run with the right to bind ports below 1024\n"),
            std::string::npos)
      << server.Error();
}

TEST_F(HeadlessTest, StartLineIsFollowedByTheAddressesToOpen) {
  THeadlessProcess server;
  StartServing(server);
  ASSERT_EQ(server.Stop(), 0);
  const QStringList lines = QString::fromStdString(server.Output()).split('\n', Qt::SkipEmptyParts);
  QStringList expected;
  for (const std::string& address : HostAddresses())
    if (expected.size() < kMaxAddressEntries) expected << QString::fromStdString(AddressEntry(address, true, FPort));
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
