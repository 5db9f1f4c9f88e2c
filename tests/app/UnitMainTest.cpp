#include "app/UnitMain.h"
#include "app/ElidedLabel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QProcess>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "support/TestSockets.h"

namespace {

const std::vector<std::string> kTwoAddresses = {"192.168.0.5", "10.0.0.7"};

// What the operator sees in a control: its caption, title or text.
QString TextOf(QWidget* control) {
  if (auto* button = qobject_cast<QAbstractButton*>(control))
    return button->text();
  if (auto* label = qobject_cast<QLabel*>(control))
    return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(control))
    return edit->text();
  if (auto* group = qobject_cast<QGroupBox*>(control))
    return group->title();
  if (auto* combo = qobject_cast<QComboBox*>(control))
    return combo->currentText();
  if (auto* spin = qobject_cast<QSpinBox*>(control))
    return spin->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(control))
    return memo->toPlainText();
  return {};
}

struct TMessageBoxSeen {
  bool Shown = false;
  QString Title, Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Runs action, during which a message box may appear; notes it and presses its OK button.
TMessageBoxSeen DismissMessageBoxDuring(const std::function<void()>& action) {
  TMessageBoxSeen seen;
  QTimer watcher;  // destroyed with this frame, so it never fires after it
  QObject::connect(&watcher, &QTimer::timeout, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr)
      return;
    seen = {true, box->windowTitle(), box->text(), box->icon()};
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  watcher.start(10);
  action();
  return seen;
}

std::string Get(int port, const std::string& path) {
  testsock::TClient client(port);
  if (!client.Connected()) return {};
  client.Send("GET " + path + " HTTP/1.1\r\n\r\n");
  return client.ReceiveAll();
}

class TFormMainTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(FRoot.isValid()); }

  // A window with a temporary folder as root (or none), two known host addresses and a known
  // default port.
  void Open(bool withRoot = true, std::vector<std::string> addresses = kTwoAddresses, int defaultPort = 80) {
    std::vector<std::string> arguments;
    if (withRoot)
      arguments.push_back(FRoot.path().toStdString());
    FForm = std::make_unique<TFormMain>(arguments, [addresses] { return addresses; }, defaultPort);
    FForm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  }

  template <typename T = QWidget>
  T* Control(const char* name) {
    T* control = FForm->findChild<T*>(name);
    EXPECT_NE(nullptr, control) << name;
    return control;
  }

  QStringList LogLines() {
    QCoreApplication::processEvents();
    const QString text = Control<QPlainTextEdit>("MemoLog")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }

  QStringList Addresses() {
    auto* combo = Control<QComboBox>("ComboAddress");
    QStringList entries;
    for (int index = 0; index < combo->count(); ++index)
      entries << combo->itemText(index);
    return entries;
  }

  void TypePort(const QString& keys) {
    auto* spin = Control<QSpinBox>("SpinPort");
    Control<QTabWidget>("PageCont")->setCurrentIndex(1);
    spin->setFocus();
    spin->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(spin, keys);
  }

  // The operator sees a control only on its tab.
  void ShowTab(int index) { Control<QTabWidget>("PageCont")->setCurrentIndex(index); }

  void Click(const char* name) { QTest::mouseClick(Control<QAbstractButton>(name), Qt::LeftButton); }

  QTemporaryDir FRoot;
  std::unique_ptr<TFormMain> FForm;
};

// Defaults

struct TControlCase {
  const char* Name;
  QRect Place;  // width 0: only the position is fixed (labels size themselves)
  const char* Text;
  bool Enabled;
};

const TControlCase kControls[] = {
    {"Label1", {8, 8, 0, 0}, "ルートフォルダ", true},
    {"EditRoot", {8, 24, 361, 20}, "", true},
    {"ButtonRoot", {376, 24, 17, 17}, "...", true},
    {"Label2", {8, 56, 0, 0}, "このサーバーのアドレス", true},
    {"ComboAddress", {8, 72, 361, 20}, "", true},
    {"ButtonQR", {376, 73, 17, 17}, "", true},
    {"ButtonExec", {272, 96, 57, 25}, "稼働", true},
    {"ButtonStop", {336, 96, 57, 25}, "停止", false},
    {"MemoLog", {0, 128, 402, 64}, "", true},
    {"StatusPanel0", {}, "停止中", true},
    {"StatusPanel1", {}, "", true},
    {"GroupPub", {8, 8, 385, 118}, "公開しないファイル", true},
    {"CheckNormal", {8, 16, 97, 25}, "通常ファイル", false},
    {"CheckExtension", {144, 16, 105, 17}, "拡張子指定する", true},
    {"EditExt", {256, 16, 57, 20}, "", false},
    {"CheckReadOnly", {8, 40, 97, 25}, "読み取り専用", true},
    {"CheckHidden", {8, 64, 97, 25}, "隠しファイル", true},
    {"CheckSystem", {8, 88, 113, 25}, "システムファイル", true},
    {"GroupAuth", {8, 128, 385, 81}, "アクセス制限", true},
    {"Label5", {16, 24, 0, 0}, "ポート番号", true},
    {"SpinPort", {40, 40, 81, 21}, "80", true},
    {"GroupUserAuth", {136, 8, 241, 65}, "ユーザー認証", true},
    {"Label3", {16, 20, 0, 0}, "ユーザー名", true},
    {"EditUserName", {88, 16, 137, 20}, "", true},
    {"Label4", {16, 42, 0, 0}, "パスワード", true},
    {"EditPassword", {88, 40, 137, 20}, "", true},
    {"CheckHttps", {16, 62, 81, 17}, "HTTPS", true},
};

TEST_F(TFormMainTest, EveryControlStartsAtItsPlaceWithItsTextAndState) {
  Open(false);
  EXPECT_EQ(QString("Velmoraファイル公開サーバー"), FForm->windowTitle());
  EXPECT_EQ(QSize(410, 240), FForm->size());
  auto* pages = Control<QTabWidget>("PageCont");
  ASSERT_EQ(2, pages->count());
  EXPECT_EQ(QString("基本"), pages->tabText(0));
  EXPECT_EQ(QString("拡張"), pages->tabText(1));
  EXPECT_EQ(0, pages->currentIndex());
  for (const TControlCase& c : kControls) {
    SCOPED_TRACE(c.Name);
    QWidget* control = Control(c.Name);
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(QString(c.Text), TextOf(control));
    EXPECT_EQ(c.Enabled, control->isEnabled());
    if (c.Place.width() > 0) {
      EXPECT_EQ(c.Place, control->geometry());
    } else if (!c.Place.isNull()) {
      EXPECT_EQ(c.Place.topLeft(), control->pos());
    }
  }
  EXPECT_TRUE(Control<QLineEdit>("EditRoot")->isReadOnly());
  EXPECT_TRUE(Control<QPlainTextEdit>("MemoLog")->isReadOnly());
  EXPECT_EQ(QLineEdit::Password, Control<QLineEdit>("EditPassword")->echoMode());
  EXPECT_EQ(-1, Control<QComboBox>("ComboAddress")->currentIndex());
  EXPECT_EQ(80, Control<QSpinBox>("SpinPort")->minimum());
  EXPECT_EQ(65535, Control<QSpinBox>("SpinPort")->maximum());
  for (const char* name : {"CheckNormal", "CheckExtension", "CheckReadOnly", "CheckHttps"})
    EXPECT_FALSE(Control<QCheckBox>(name)->isChecked()) << name;
  for (const char* name : {"CheckHidden", "CheckSystem"})
    EXPECT_TRUE(Control<QCheckBox>(name)->isChecked()) << name;
  EXPECT_EQ(QStringList({"http://192.168.0.5/", "http://10.0.0.7/"}), Addresses());

  const TPublishSettings settings = FForm->SettingsSource().Snapshot();
  EXPECT_EQ("", settings.Root);
  EXPECT_FALSE(settings.ExcludeReadOnly);
  EXPECT_TRUE(settings.ExcludeHidden);
  EXPECT_TRUE(settings.ExcludeSystem);
  EXPECT_FALSE(settings.ExtensionFilter);
  EXPECT_EQ("", settings.UserName + settings.Password + settings.Extension);
}

// The port field starts at the port this process may bind, and so does the address list; a text
// that is no number reads as that port too.
TEST_F(TFormMainTest, PortFieldAndAddressListStartAtTheDefaultPort) {
  FForm = std::make_unique<TFormMain>();
  EXPECT_EQ(DefaultPort(), Control<QSpinBox>("SpinPort")->value());
  FForm.reset();

  Open(false, kTwoAddresses, 8080);
  EXPECT_EQ(QString("8080"), Control<QSpinBox>("SpinPort")->text());
  EXPECT_EQ(QStringList({"http://192.168.0.5:8080/", "http://10.0.0.7:8080/"}), Addresses());
  Control("SpinPort")->findChild<QLineEdit*>()->setText("abc");
  EXPECT_EQ(QStringList({"http://192.168.0.5:8080/", "http://10.0.0.7:8080/"}), Addresses());
  TypePort("");
  QTest::keyClick(Control("SpinPort"), Qt::Key_Backspace);
  Control("EditUserName")->setFocus();
  EXPECT_EQ(QString("8080"), Control<QSpinBox>("SpinPort")->text());
  TypePort("80");
  EXPECT_EQ(QStringList({"http://192.168.0.5/", "http://10.0.0.7/"}), Addresses());
}

TEST_F(TFormMainTest, CommandLineFolderBecomesTheRoot) {
  Open(true);
  EXPECT_EQ(FRoot.path(), Control<QLineEdit>("EditRoot")->text());
  EXPECT_EQ(FRoot.path().toStdString(), FForm->SettingsSource().Snapshot().Root);
}

// Starting and stopping

TEST_F(TFormMainTest, StartWithoutRootShowsTheErrorAndStaysStopped) {
  Open(false);
  const TMessageBoxSeen box = DismissMessageBoxDuring([this] { Click("ButtonExec"); });
  EXPECT_TRUE(box.Shown);
  EXPECT_EQ(QString("エラー"), box.Title);
  EXPECT_EQ(QString("ルートフォルダを指定してください。"), box.Text);
  EXPECT_EQ(QMessageBox::Critical, box.Icon);
  EXPECT_TRUE(Control("ButtonExec")->isEnabled());
  EXPECT_FALSE(Control("ButtonStop")->isEnabled());
  EXPECT_EQ(QString("停止中"), Control<QLabel>("StatusPanel0")->text());
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(TFormMainTest, StartAndStopSwitchTheControlsAndLog) {
  const int port = testsock::FreePort();
  Open(true, kTwoAddresses, port);
  Click("ButtonExec");
  EXPECT_FALSE(Control("ButtonExec")->isEnabled());
  EXPECT_TRUE(Control("ButtonStop")->isEnabled());
  EXPECT_FALSE(Control("EditRoot")->isEnabled());
  EXPECT_TRUE(Control("ButtonRoot")->isEnabled());
  EXPECT_FALSE(Control("GroupPub")->isEnabled());
  EXPECT_FALSE(Control("GroupAuth")->isEnabled());
  EXPECT_EQ(QString("稼動中"), Control<QLabel>("StatusPanel0")->text());
  // Where clients go: the first address with the port, also in the address box that was empty.
  const QString address = QString("http://192.168.0.5:%1/").arg(port);
  EXPECT_EQ(address, Control<TElidedLabel>("StatusPanel1")->ShownText());  // the whole of it
  EXPECT_EQ(address, Control<QComboBox>("ComboAddress")->currentText());
  EXPECT_EQ(Get(port, "/").rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u);

  Click("ButtonStop");
  EXPECT_TRUE(Control("ButtonExec")->isEnabled());
  EXPECT_FALSE(Control("ButtonStop")->isEnabled());
  EXPECT_TRUE(Control("EditRoot")->isEnabled());
  EXPECT_TRUE(Control("GroupPub")->isEnabled());
  EXPECT_TRUE(Control("GroupAuth")->isEnabled());
  EXPECT_EQ(QString("停止中"), Control<QLabel>("StatusPanel0")->text());
  EXPECT_EQ(QString(), Control<QLabel>("StatusPanel1")->text());
  EXPECT_EQ(address, Control<QComboBox>("ComboAddress")->currentText());

  const QStringList lines = LogLines().filter(QRegularExpression("サーバ"));
  ASSERT_EQ(2, lines.size());
  const QString stamp = "^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} ";
  EXPECT_TRUE(QRegularExpression(stamp + "サーバ起動$").match(lines[0]).hasMatch()) << lines[0].toStdString();
  EXPECT_TRUE(QRegularExpression(stamp + "サーバ停止$").match(lines[1]).hasMatch()) << lines[1].toStdString();
}

TEST_F(TFormMainTest, EnterInThePortFieldBringsItIntoRangeAndStarts) {
  Open(true);
  TypePort("8");
  QTest::keyClick(Control("SpinPort"), Qt::Key_Return);
  EXPECT_EQ(QString("80"), Control<QSpinBox>("SpinPort")->text());
  EXPECT_EQ(QString("稼動中"), Control<QLabel>("StatusPanel0")->text());
}

// A failed start once logged the start line and showed 稼動中 while nothing listened, and then
// the engine's words alone.
TEST_F(TFormMainTest, TakenPortLogsTheErrorAndSaysWhyInTheStatusBar) {
  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
  Open(true);
  const QString port = QString::number(holder.serverPort());
  TypePort(port);
  ShowTab(0);
  Click("ButtonExec");
  EXPECT_EQ(QStringList{"exception : EIdCouldNotBindSocket"}, LogLines());
  EXPECT_EQ(QString("停止中"), Control<QLabel>("StatusPanel0")->text());
  const QString message = Control<QLabel>("StatusPanel1")->text();
  EXPECT_TRUE(message.startsWith("ポート " + port + " は使用中です")) << message.toStdString();
  EXPECT_TRUE(message.contains(" / Port " + port + " is in use (by another program, or another Velmora)"))
      << message.toStdString();
  // The panel is too narrow for it: it shows what fits and "…", its tip all of it.
  const QString shown = Control<TElidedLabel>("StatusPanel1")->ShownText();
  EXPECT_TRUE(shown.endsWith("…")) << shown.toStdString();
  EXPECT_TRUE(message.startsWith(shown.chopped(1))) << shown.toStdString();
  EXPECT_EQ(message, Control<QLabel>("StatusPanel1")->toolTip());
  EXPECT_EQ(QRect(0, 192, 402, 21), Control("StatusBarMain")->geometry());  // a long text widens nothing
  EXPECT_TRUE(Control("ButtonExec")->isEnabled());
  EXPECT_FALSE(Control("ButtonStop")->isEnabled());
  EXPECT_TRUE(Control("GroupPub")->isEnabled());
  EXPECT_TRUE(Control("GroupAuth")->isEnabled());

  // Once the port is free, the same button starts, and the reason gives way to the address.
  holder.close();
  Click("ButtonExec");
  EXPECT_EQ(QString("稼動中"), Control<QLabel>("StatusPanel0")->text());
  EXPECT_EQ("http://192.168.0.5:" + port + "/", Control<QLabel>("StatusPanel1")->text());
  EXPECT_TRUE(LogLines().back().endsWith(" サーバ起動"));
}

// The window grows from the design's size; the log takes the room, the status bar stays below it.
TEST_F(TFormMainTest, WindowMayGrowAndTheLogGrowsWithIt) {
  Open(true);
  EXPECT_EQ(QSize(410, 240), FForm->minimumSize());
  EXPECT_GT(FForm->maximumWidth(), 410);
  FForm->resize(800, 600);
  EXPECT_TRUE(WaitUntil([this] { return FForm->size() == QSize(800, 600); }));
  EXPECT_EQ(FForm->rect(), Control("PageCont")->geometry());
  EXPECT_EQ(QRect(0, 128, 792, 424), Control("MemoLog")->geometry());
  EXPECT_EQ(QRect(0, 552, 792, 21), Control("StatusBarMain")->geometry());
  EXPECT_EQ(QRect(272, 96, 57, 25), Control("ButtonExec")->geometry());  // the rest stays in place

  FForm->resize(200, 100);  // never below the design's size
  EXPECT_TRUE(WaitUntil([this] { return FForm->size() == QSize(410, 240); }));
  EXPECT_EQ(QRect(0, 128, 402, 64), Control("MemoLog")->geometry());
}

// Settings

TEST_F(TFormMainTest, ExtensionCheckTogglesTheFieldAndKeepsItsText) {
  Open(true);
  Control<QTabWidget>("PageCont")->setCurrentIndex(1);
  Click("CheckExtension");
  auto* ext = Control<QLineEdit>("EditExt");
  EXPECT_TRUE(ext->isEnabled());
  QTest::keyClicks(ext, "txt");
  EXPECT_TRUE(FForm->SettingsSource().Snapshot().ExtensionFilter);
  EXPECT_EQ("txt", FForm->SettingsSource().Snapshot().Extension);

  Click("CheckExtension");
  EXPECT_FALSE(ext->isEnabled());
  EXPECT_EQ(QString("txt"), ext->text());
  EXPECT_FALSE(FForm->SettingsSource().Snapshot().ExtensionFilter);
}

TEST_F(TFormMainTest, EveryControlChangeReachesTheSettingsCopy) {
  Open(true);
  Control<QTabWidget>("PageCont")->setCurrentIndex(1);
  Click("CheckReadOnly");
  Click("CheckHidden");
  Click("CheckSystem");
  QTest::keyClicks(Control("EditUserName"), "user");
  QTest::keyClicks(Control("EditPassword"), "pass");
  const TPublishSettings settings = FForm->SettingsSource().Snapshot();
  EXPECT_TRUE(settings.ExcludeReadOnly);
  EXPECT_FALSE(settings.ExcludeHidden);
  EXPECT_FALSE(settings.ExcludeSystem);
  EXPECT_EQ("user", settings.UserName);
  EXPECT_EQ("pass", settings.Password);
}

// The port field and the address list

TEST_F(TFormMainTest, EveryPortTextRebuildsTheAddressList) {
  Open(true);
  struct Case {
    const char* Keys;
    QStringList Entries;
  };
  const Case cases[] = {
      {"8", {"http://192.168.0.5:8/", "http://10.0.0.7:8/"}},  // out of range, still as typed
      {"80", {"http://192.168.0.5/", "http://10.0.0.7/"}},
      {"8080", {"http://192.168.0.5:8080/", "http://10.0.0.7:8080/"}},
      {"8a0b", {"http://192.168.0.5/", "http://10.0.0.7/"}},  // letters are refused: reads 80
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Keys);
    TypePort(c.Keys);
    EXPECT_EQ(c.Entries, Addresses());
  }
  // A text that is not a number (no key gives one) reads as 80.
  Control("SpinPort")->findChild<QLineEdit*>()->setText("abc");
  EXPECT_EQ(QStringList({"http://192.168.0.5/", "http://10.0.0.7/"}), Addresses());
  // Stepping is a change too.
  TypePort("8080");
  QTest::keyClick(Control("SpinPort"), Qt::Key_Up);
  EXPECT_EQ(QString("8081"), Control<QSpinBox>("SpinPort")->text());
  EXPECT_EQ(QStringList({"http://192.168.0.5:8081/", "http://10.0.0.7:8081/"}), Addresses());
}

// The machine's addresses change while the window is open (another network, a VPN): the list
// is read again at the start, and the status bar names the new first address.
TEST_F(TFormMainTest, StartReadsTheAddressesAgain) {
  const int port = testsock::FreePort();
  auto addresses = std::make_shared<std::vector<std::string>>(kTwoAddresses);
  FForm = std::make_unique<TFormMain>(std::vector<std::string>{FRoot.path().toStdString()},
                                      [addresses] { return *addresses; }, port);
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  *addresses = {"192.168.1.34", "2001:db8::7"};
  Click("ButtonExec");
  const QString first = QString("http://192.168.1.34:%1/").arg(port);
  EXPECT_EQ(QStringList({first, QString("http://[2001:db8::7]:%1/").arg(port)}), Addresses());
  EXPECT_EQ(first, Control<TElidedLabel>("StatusPanel1")->ShownText());
  Click("ButtonStop");
}

TEST_F(TFormMainTest, AtMostFiveAddressesAndNoneWithoutAny) {
  Open(true, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"});
  EXPECT_EQ(5, Addresses().size());
  EXPECT_EQ(QString("http://10.0.0.5/"), Addresses().back());
  FForm.reset();
  Open(true, {});
  EXPECT_TRUE(Addresses().isEmpty());
  EXPECT_EQ("", FForm->HostAddress(0));
}

TEST_F(TFormMainTest, RebuildKeepsThePickedTextAsTyped) {
  Open(true);
  auto* combo = Control<QComboBox>("ComboAddress");
  combo->setCurrentIndex(1);
  TypePort("8080");
  EXPECT_EQ(-1, combo->currentIndex());
  EXPECT_EQ(QString("http://10.0.0.7/"), combo->currentText());
}

TEST_F(TFormMainTest, OutOfRangePortIsBroughtToTheNearestBoundOnFocusLoss) {
  Open(true);
  struct Case {
    const char* Keys;
    const char* Shown;
  };
  const Case cases[] = {{"8", "80"}, {"79", "80"}, {"65536", "65535"}, {"99999999999", "65535"}, {"443", "443"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Keys);
    TypePort(c.Keys);
    Control("EditUserName")->setFocus();
    EXPECT_EQ(QString(c.Shown), Control<QSpinBox>("SpinPort")->text());
    const QString port = QString(c.Shown) == "80" ? "" : QString(":") + c.Shown;
    EXPECT_EQ(QStringList({"http://192.168.0.5" + port + "/", "http://10.0.0.7" + port + "/"}), Addresses());
  }
  TypePort("");
  QTest::keyClick(Control("SpinPort"), Qt::Key_Backspace);
  Control("EditUserName")->setFocus();
  EXPECT_EQ(QString("80"), Control<QSpinBox>("SpinPort")->text());
}

// The address for phones

// What a phone's camera reads from an image: decoded by zbarimg, a reader made apart from the
// encoder. Empty when it finds no code.
QString DecodeQrCode(const QImage& image) {
  QTemporaryDir folder;
  const QString file = folder.filePath("code.png");
  if (!image.save(file))
    return "(image not saved)";
  QProcess reader;
  reader.start("zbarimg", {"--raw", "--quiet", file});
  if (!reader.waitForFinished(30000))
    return "(zbarimg did not finish)";
  return QString::fromUtf8(reader.readAllStandardOutput()).trimmed();
}

class TAddressForPhoneTest : public TFormMainTest {
protected:
  // Opens the address box's context menu as a right click does; null when none shows.
  QMenu* OpenAddressMenu() {
    QLineEdit* box = Control<QComboBox>("ComboAddress")->lineEdit();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(box, &click);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }

  void Choose(const QString& text) {
    QMenu* menu = OpenAddressMenu();
    ASSERT_NE(nullptr, menu);
    for (QAction* action : menu->actions())
      if (action->text() == text)
        action->trigger();
    menu->close();
  }

  // The QR dialog that the window shows, once it is up; its code as the operator sees it.
  QDialog* Dialog() {
    QDialog* dialog = nullptr;
    WaitUntil([&] {
      dialog = FForm->findChild<QDialog*>("DialogQR");
      return dialog != nullptr && dialog->isVisible();
    });
    return dialog;
  }
};

// HTTPS from the local authority, made in a folder of the test's own: the secure address, the
// fingerprint in the log, and the authority's QR code with its fingerprint while serving.
TEST_F(TAddressForPhoneTest, HttpsStartOffersTheAuthorityByQrCodeWhileServing) {
  QTemporaryDir data;
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  const int port = testsock::FreePort();
  Open(true, kTwoAddresses, port);
  Control<QCheckBox>("CheckHttps")->setChecked(true);
  Click("ButtonExec");
  EXPECT_EQ(QString("https://192.168.0.5:%1/").arg(port), Control<TElidedLabel>("StatusPanel1")->ShownText());
  EXPECT_FALSE(Control("CheckHttps")->isEnabled());
  const QStringList fingerprint = LogLines().filter(QRegularExpression("^CA SHA-256: ([0-9A-F]{2}:){31}[0-9A-F]{2}$"));
  ASSERT_EQ(1, fingerprint.size());
  EXPECT_TRUE(LogLines().contains(QString("http://192.168.0.5:%1/?ca").arg(port)));

  Choose("CA証明書のQRコードを表示");
  QDialog* dialog = Dialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(QString("http://192.168.0.5:%1/?ca").arg(port), dialog->findChild<QLabel*>("LabelAddress")->text());
  EXPECT_TRUE(dialog->findChild<QLabel*>("LabelNote")->text().contains(fingerprint[0].mid(4)));
  dialog->reject();

  Click("ButtonStop");
  QMenu* menu = OpenAddressMenu();
  ASSERT_NE(nullptr, menu);
  EXPECT_FALSE(menu->findChild<QAction*>("ActionAuthorityQR")->isEnabled());
  menu->close();
  qputenv("XDG_DATA_HOME", saved);
}

TEST_F(TFormMainTest, HttpsThatCannotStartSaysWhyAndStaysStopped) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", "/dev/null/nowhere");
  Open(true, kTwoAddresses, testsock::FreePort());
  Control<QCheckBox>("CheckHttps")->setChecked(true);
  Click("ButtonExec");
  EXPECT_TRUE(Control("ButtonExec")->isEnabled());
  EXPECT_EQ(QString("停止中"), Control<QLabel>("StatusPanel0")->text());
  EXPECT_TRUE(Control<QLabel>("StatusPanel1")->text().contains("cannot start HTTPS"))
      << Control<QLabel>("StatusPanel1")->text().toStdString();
  qputenv("XDG_DATA_HOME", saved);
}

TEST_F(TAddressForPhoneTest, MenuShowsTheQrCodeOfTheBoxsTextWithTheTextBelow) {
  Open(true);
  Control<QComboBox>("ComboAddress")->setCurrentIndex(1);
  Choose("QRコードを表示");
  QDialog* dialog = Dialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(QString("http://10.0.0.7/?browse"), DecodeQrCode(dialog->grab().toImage()));
  EXPECT_EQ(QString("http://10.0.0.7/?browse"), dialog->findChild<QLabel*>("LabelAddress")->text());
  // Large enough for a phone at arm's length.
  EXPECT_GE(dialog->findChild<QLabel*>("LabelCode")->pixmap().width(), 320);
  dialog->close();
  EXPECT_TRUE(WaitUntil([this] { return FForm->findChild<QDialog*>("DialogQR") == nullptr; }));
}

TEST_F(TAddressForPhoneTest, EmptyBoxOffersTheFirstAddressWithThePort) {
  Open(true);
  TypePort("8080");
  ShowTab(0);
  Click("ButtonQR");
  QDialog* dialog = Dialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(QString("http://192.168.0.5:8080/?browse"), DecodeQrCode(dialog->grab().toImage()));
  dialog->close();

  QGuiApplication::clipboard()->clear();
  Choose("アドレスをコピー");
  EXPECT_EQ(QString("http://192.168.0.5:8080/?browse"), QGuiApplication::clipboard()->text());
}

TEST_F(TAddressForPhoneTest, TypedTextIsWhatIsCopied) {
  Open(true);
  Control<QComboBox>("ComboAddress")->setEditText("http://例え.test:8080/共有/");  // as typed
  Choose("アドレスをコピー");
  EXPECT_EQ(QString("http://例え.test:8080/共有/?browse"), QGuiApplication::clipboard()->text());
  Choose("QRコードを表示");
  QDialog* dialog = Dialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(QString("http://例え.test:8080/共有/?browse"), DecodeQrCode(dialog->grab().toImage()));
  dialog->close();
  // A typed address that already asks for something is left as it is.
  Control<QComboBox>("ComboAddress")->setEditText("http://10.0.0.7/a.txt");
  Choose("アドレスをコピー");
  EXPECT_EQ(QString("http://10.0.0.7/a.txt"), QGuiApplication::clipboard()->text());
  Choose("QRコードを表示");
  dialog = Dialog();
  ASSERT_NE(nullptr, dialog);
  dialog->close();
}

TEST_F(TAddressForPhoneTest, NothingToOfferDisablesBothCommands) {
  Open(true, {});
  QMenu* menu = OpenAddressMenu();
  ASSERT_NE(nullptr, menu);
  int seen = 0;
  for (QAction* action : menu->actions()) {
    if (action->text() == "QRコードを表示" || action->text() == "アドレスをコピー") {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
      ++seen;
    }
  }
  EXPECT_EQ(2, seen);
  menu->close();
  Click("ButtonQR");
  QCoreApplication::processEvents();
  EXPECT_EQ(nullptr, FForm->findChild<QDialog*>("DialogQR"));
}

// Serving from the window

TEST_F(TFormMainTest, SettingsChangedAfterStopApplyAtTheNextStart) {
  QFile hidden(FRoot.path() + "/.plan");
  ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
  hidden.write("secret");
  hidden.close();
  Open(true);
  const int port = testsock::FreePort();
  TypePort(QString::number(port));
  ShowTab(0);
  Click("ButtonExec");
  EXPECT_EQ(Get(port, "/.plan").rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  Click("ButtonStop");

  ShowTab(1);
  Click("CheckHidden");
  ShowTab(0);
  Click("ButtonExec");
  const std::string answer = Get(port, "/.plan");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 6), "secret");
  Click("ButtonStop");
  EXPECT_TRUE(WaitUntil([this] { return LogLines().filter(" /.plan 127.0.0.1").size() == 2; })) << LogLines().join('\n').toStdString();
}

TEST_F(TFormMainTest, ClosingWhileADownloadRunsEndsItAndServesNothingMore) {
  QFile big(FRoot.path() + "/big.bin");
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  ASSERT_TRUE(big.resize(256 << 20));
  big.close();
  Open(true);
  const int port = testsock::FreePort();
  TypePort(QString::number(port));
  ShowTab(0);
  Click("ButtonExec");

  testsock::TClient download(port);
  ASSERT_TRUE(download.Connected());
  download.Send("GET /big.bin HTTP/1.1\r\n\r\n");
  ASSERT_FALSE(download.Receive(100000).empty());  // under way; the rest waits in the socket
  FForm->close();

  const std::size_t rest = download.ReceiveAll().size();
  EXPECT_LT(rest, std::size_t{256} << 20);
  testsock::TClient later(port);
  EXPECT_FALSE(later.Connected());
}

// Stands for the desktop's handler of http addresses and notes what it is given.
class TUrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> Opened;
public slots:
  void open(const QUrl& url) { Opened << url; }
};

TEST_F(TFormMainTest, DoubleClickOpensTheBrowsePageOfTheAddress) {
  Open(true);
  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "open");
  auto* combo = Control<QComboBox>("ComboAddress");
  combo->setCurrentIndex(0);
  QTest::mouseDClick(combo->lineEdit(), Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(QList<QUrl>({QUrl("http://192.168.0.5/?browse")}), catcher.Opened);
}

}  // namespace

#include "UnitMainTest.moc"
