#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

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
}

// Markers live in a temporary folder of the test's own, for this process and the programs it
// starts, so that a Velmora the user runs is never involved.
class TSingleInstanceTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FTemp.isValid());
    FOldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", FTemp.path().toUtf8());
  }
  void TearDown() override { qputenv("TMPDIR", FOldTemp); }

  QString Marker() const { return TSingleInstance::MarkerName(VELMORA_BINARY); }
  QString MarkerPath() const { return QDir(FTemp.path()).filePath(Marker()); }

  void StartProgram(QProcess& program) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", FTemp.path());
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

  QTemporaryDir FTemp;
  QByteArray FOldTemp;
};

TEST_F(TSingleInstanceTest, SecondStartBringsTheFirstWindowBackAndEnds) {
  TSingleInstance first(Marker());
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

  TSingleInstance next(Marker());
  ASSERT_EQ(TSingleInstance::TClaim::First, next.Claim());
  ExpectSecondStartComesForward(next);
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
