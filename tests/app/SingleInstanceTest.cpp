#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "app/UnitMain.h"

namespace {

TEST(TSingleInstanceName, FileNameLowerCasedAndUserId) {
  const QString user = "-" + QString::number(::getuid());
  EXPECT_EQ("velmora" + user, TSingleInstance::MarkerName("velmora"));
  EXPECT_EQ("velmora" + user, TSingleInstance::MarkerName("/other/folder/Velmora"));  // same program
  EXPECT_EQ("velmora2" + user, TSingleInstance::MarkerName("/usr/bin/velmora2"));    // another program
}

TEST(TSingleInstanceName, NoPlaceForTheMarker) {
  TSingleInstance instance("/nonexistent-folder-of-velmora-tests/velmora-0");
  EXPECT_EQ(TSingleInstance::TClaim::NoMarker, instance.Claim());
  TSingleInstance unguarded("");
  EXPECT_EQ(TSingleInstance::TClaim::Unguarded, unguarded.Claim());
}

// Markers live in temporary folders of the test's own, for this process and the programs it
// starts, so that a Velmora the user runs is never involved: XDG_RUNTIME_DIR is a private one,
// TMPDIR (the old place of the marker) another.
class TSingleInstanceTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FRuntime.isValid());
    ASSERT_TRUE(FTemp.isValid());
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"})
      FOldEnvironment.emplace_back(name, qgetenv(name));
    qputenv("XDG_RUNTIME_DIR", FRuntime.path().toUtf8());
    qputenv("TMPDIR", FTemp.path().toUtf8());
  }
  void TearDown() override {
    for (const auto& [name, value] : FOldEnvironment)
      value.isNull() ? qunsetenv(name) : qputenv(name, value);
  }

  QString MarkerPath() const { return TSingleInstance::MarkerPath(VELMORA_BINARY); }

  void StartProgram(QProcess& program) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(VELMORA_BINARY, {});
    ASSERT_TRUE(program.waitForStarted());
  }

  // Starts the program while this process holds the marker: it must end at once with 0, and
  // the holder must be asked to come forward.
  void ExpectSecondStartComesForward(TSingleInstance& holder) {
    int requests = 0;
    QObject::connect(&holder, &TSingleInstance::ComeForwardRequested, [&requests] { ++requests; });
    QProcess second;
    StartProgram(second);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(QProcess::NormalExit, second.exitStatus());
    EXPECT_EQ(0, second.exitCode()) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(WaitUntil([&requests] { return requests == 1; }));
  }

  QTemporaryDir FRuntime, FTemp;
  std::vector<std::pair<const char*, QByteArray>> FOldEnvironment;
};

TEST_F(TSingleInstanceTest, MarkerLivesInTheRuntimeFolder) {
  EXPECT_EQ(QDir(FRuntime.path()).filePath(TSingleInstance::MarkerName(VELMORA_BINARY)), MarkerPath());
}

TEST_F(TSingleInstanceTest, SecondStartBringsTheFirstWindowBackAndEnds) {
  TSingleInstance first(MarkerPath());
  ASSERT_EQ(TSingleInstance::TClaim::First, first.Claim());
  TFormMain form({}, [] { return std::vector<std::string>(); });
  form.showMinimized();
  QObject::connect(&first, &TSingleInstance::ComeForwardRequested, &form, &TFormMain::BringToFront);
  ExpectSecondStartComesForward(first);
  EXPECT_FALSE(form.isMinimized());
  EXPECT_TRUE(form.isVisible());
}

TEST_F(TSingleInstanceTest, MarkerOfAKilledInstanceDoesNotStopTheNextStart) {
  QProcess killed;
  StartProgram(killed);
  ASSERT_TRUE(WaitUntil([this] { return QFile::exists(MarkerPath()); }));
  killed.kill();
  ASSERT_TRUE(killed.waitForFinished());
  ASSERT_TRUE(QFile::exists(MarkerPath()));  // left behind

  TSingleInstance next(MarkerPath());
  ASSERT_EQ(TSingleInstance::TClaim::First, next.Claim());
  ExpectSecondStartComesForward(next);
}

// The marker once lay in the shared temporary folder, where any local user could put a socket
// or a file under its name first and so keep the program from starting.
TEST_F(TSingleInstanceTest, ForeignEntriesAtTheOldPlaceDoNotBlockTheStart) {
  qunsetenv("XDG_RUNTIME_DIR");
  const QString oldPlace = QDir(FTemp.path()).filePath(TSingleInstance::MarkerName(VELMORA_BINARY));
  const int leftover = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, oldPlace.toUtf8().constData(), sizeof address.sun_path - 1);
  ASSERT_EQ(0, ::bind(leftover, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::listen(leftover, 1));  // listening, but no instance of ours answers
  QFile foreign(oldPlace + ".lock");
  ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
  foreign.close();
  if (::getuid() == 0) {  // as another user's
    ASSERT_EQ(0, ::chown(oldPlace.toUtf8().constData(), 65534, 65534));
    ASSERT_EQ(0, ::chown(foreign.fileName().toUtf8().constData(), 65534, 65534));
  }

  const QString marker = MarkerPath();
  EXPECT_TRUE(marker.startsWith(FTemp.path() + "/velmora-runtime-")) << marker.toStdString();
  TSingleInstance first(marker);
  ASSERT_EQ(TSingleInstance::TClaim::First, first.Claim());
  ExpectSecondStartComesForward(first);
  ::close(leftover);
}

TEST(StartUp, WithoutDisplayExplainsTheHeadlessModeAndExits2) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(name);
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(VELMORA_BINARY, {});
  ASSERT_TRUE(program.waitForFinished(30000));
  EXPECT_EQ(2, program.exitCode());
  EXPECT_TRUE(program.readAllStandardError().contains("--headless"));
}

}  // namespace
