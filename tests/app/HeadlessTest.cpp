// The program without a window, run as a real process: its exits, its log on standard output,
// and what browsers, curl and wget get from it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>
#include <string>

#include "support/TestSockets.h"

namespace {

constexpr int kWaitMs = 20000;

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Runs build/velmora --headless in the C locale at UTC; stops it with a signal.
class THeadlessProcess {
public:
  THeadlessProcess() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    environment.insert("TZ", "UTC");
    FProcess.setProcessEnvironment(environment);
  }
  ~THeadlessProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(kWaitMs);
    }
  }

  void Start(const QStringList& args) {
    FProcess.start(VELMORA_BINARY, QStringList{"--headless"} + args);
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

TEST_F(HeadlessTest, WithoutAUsableRootExits2) {
  for (const QStringList& args : {QStringList{}, QStringList{FTemp.path() + "/nosuch"}}) {
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    EXPECT_NE(server.Error().find("ルートフォルダを指定してください。"), std::string::npos) << server.Error();
    EXPECT_TRUE(server.Output().empty());
  }
}

TEST_F(HeadlessTest, BadCommandLinesExit2WithTheUsageAndHelpExits0) {
  for (const QStringList& args : {QStringList{"--port", "0", Root()}, QStringList{"--port", "http", Root()},
                                  QStringList{"--colour", Root()}}) {
    THeadlessProcess server;
    server.Start(args);
    EXPECT_EQ(server.Finish(), 2);
    EXPECT_NE(server.Error().find("usage: velmora --headless"), std::string::npos) << server.Error();
  }
  THeadlessProcess help;
  help.Start({"--help"});
  EXPECT_EQ(help.Finish(), 0);
  EXPECT_NE(help.Output().find("usage: velmora --headless"), std::string::npos);
}

TEST_F(HeadlessTest, TakenPortExits1WithTheExceptionLine) {
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(FPort));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  THeadlessProcess server;
  server.Start({"--port", Port(), Root()});
  EXPECT_EQ(server.Finish(), 1);
  EXPECT_EQ(server.Output(), "exception : EIdCouldNotBindSocket\n");
  EXPECT_NE(server.Error().find("Could not bind socket. Address and port are already in use."), std::string::npos);
  ::close(taken);
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
                                          "Last-Modified: [A-Z][a-z]{2}, \\d+ [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d \\+0000\r\n"
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
