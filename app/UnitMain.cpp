#include "app/UnitMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>


#include "app/ElidedLabel.h"
#include "app/FolderBrowser.h"
#include "app/ListenFailure.h"
#include "app/PortSpinBox.h"
#include "app/QrCodeDialog.h"
#include "app/TlsStart.h"
#include "app/RootArgument.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "publish/LogLine.h"

namespace {

QString FromSystem(const std::string& text) {
  return QString::fromStdString(platform::CodePageToUtf8(text));
}

std::string ToSystem(const QString& text) {
  return platform::Utf8ToCodePage(text.toStdString());
}

template <typename TControl>
TControl* Place(TControl* control, const char* name, int left, int top, int width = -1, int height = -1) {
  control->setObjectName(name);
  if (width < 0)
    control->move(left, top);
  else
    control->setGeometry(left, top, width, height);
  return control;
}

void PlaceLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Place(new QLabel(text, parent), name, left, top);
  label->adjustSize();
}

QCheckBox* PlaceCheck(QWidget* parent, const char* name, const char* text, int left, int top, int width, int height,
                      bool checked) {
  auto* check = Place(new QCheckBox(text, parent), name, left, top, width, height);
  check->setChecked(checked);
  return check;
}

// A Japanese proportional Gothic at 12 pixels, or the desktop's own family at that size.
QFont WindowFont() {
  QFont font = QFontDatabase::families().contains("IPAPGothic") ? QFont("IPAPGothic") : QApplication::font();
  font.setPixelSize(12);
  return font;
}

// The design's size of the window, from which the log and the status bar grow with it.
constexpr QSize kDesignSize(410, 240);

// A small picture of a QR code's three corner marks, for the button beside the address box.
QIcon QrButtonIcon() {
  QPixmap pixmap(11, 11);
  pixmap.fill(Qt::white);
  QPainter painter(&pixmap);
  for (const QPoint corner : {QPoint(0, 0), QPoint(6, 0), QPoint(0, 6)}) {
    painter.fillRect(QRect(corner, QSize(5, 5)), Qt::black);
    painter.fillRect(QRect(corner + QPoint(1, 1), QSize(3, 3)), Qt::white);
    painter.fillRect(QRect(corner + QPoint(2, 2), QSize(1, 1)), Qt::black);
  }
  painter.fillRect(QRect(7, 7, 2, 2), Qt::black);
  painter.fillRect(QRect(9, 9, 2, 2), Qt::black);
  return QIcon(pixmap);
}

}  // namespace

// The log control exists before its sink and the server that writes to it; CreateMainTab puts
// it in its place.
TFormMain::TFormMain(const std::vector<std::string>& arguments, TAddressSource addresses, int defaultPort,
                     QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      MemoLog(new QPlainTextEdit(this)),
      FAddressSource(std::move(addresses)),
      FLogSink(MemoLog),
      FServer(FSettings, FLogSink, FFormats),
      httpd(FServer.httpd),
      MimeTypes(FServer.MimeTypes) {
  CreateControls(defaultPort);
  ConnectHandlers();
  FormCreate(arguments);
  RefreshSettings();
  applyRunningState(false);
}

// FServer, destroyed first of the members, waits for every connection thread.
TFormMain::~TFormMain() = default;

const ISettingsSource& TFormMain::SettingsSource() const {
  return FSettings;
}

ILogSink& TFormMain::LogSink() {
  return FLogSink;
}

void TFormMain::BringToFront() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

// Controls

void TFormMain::CreateControls(int defaultPort) {
  setObjectName("FormMain");
  setWindowTitle("Velmoraファイル公開サーバー");
  setFont(WindowFont());
  setMinimumSize(kDesignSize);
  resize(kDesignSize);
  move(191, 118);
  PageCont = Place(new QTabWidget(this), "PageCont", 0, 0, kDesignSize.width(), kDesignSize.height());
  CreateMainTab();
  CreateExtendTab(defaultPort);
  PageCont->setCurrentWidget(TabMain);
}

void TFormMain::PlaceGrowingControls() {
  PageCont->setGeometry(rect());
  const QSize growth = size() - kDesignSize;
  MemoLog->setGeometry(0, 128, 402 + growth.width(), 64 + growth.height());
  StatusBarMain->setGeometry(0, 192 + growth.height(), 402 + growth.width(), 21);
}

void TFormMain::CreateMainTab() {
  TabMain = new QWidget;
  TabMain->setObjectName("TabMain");
  PageCont->addTab(TabMain, "基本");
  PlaceLabel(TabMain, "Label1", "ルートフォルダ", 8, 8);
  EditRoot = Place(new QLineEdit(TabMain), "EditRoot", 8, 24, 361, 20);
  EditRoot->setReadOnly(true);
  EditRoot->setFocusPolicy(Qt::ClickFocus);
  EditRoot->setAccessibleDescription("公開するフォルダ（サブフォルダ含む）");
  ButtonRoot = Place(new QPushButton("...", TabMain), "ButtonRoot", 376, 24, 17, 17);
  PlaceLabel(TabMain, "Label2", "このサーバーのアドレス", 8, 56);
  ComboAddress = Place(new QComboBox(TabMain), "ComboAddress", 8, 72, 361, 20);
  ComboAddress->setEditable(true);
  ComboAddress->setInsertPolicy(QComboBox::NoInsert);
  ButtonQR = Place(new QPushButton(TabMain), "ButtonQR", 376, 73, 17, 17);
  ButtonQR->setIcon(QrButtonIcon());
  ButtonQR->setToolTip("QRコードを表示");
  ButtonExec = Place(new QPushButton("稼働", TabMain), "ButtonExec", 272, 96, 57, 25);
  ButtonExec->setDefault(true);
  ButtonStop = Place(new QPushButton("停止", TabMain), "ButtonStop", 336, 96, 57, 25);
  MemoLog->setParent(TabMain);
  Place(MemoLog, "MemoLog", 0, 128, 402, 64);
  MemoLog->setReadOnly(true);
  MemoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLog->setFocusPolicy(Qt::ClickFocus);
  StatusBarMain = Place(new QStatusBar(TabMain), "StatusBarMain", 0, 192, 402, 21);
  StatusBarMain->setSizeGripEnabled(false);
  FStatePanel = new QLabel(StatusBarMain);
  FStatePanel->setObjectName("StatusPanel0");
  FStatePanel->setFixedWidth(50);
  FMessagePanel = new TElidedLabel(StatusBarMain);
  FMessagePanel->setObjectName("StatusPanel1");
  // The last panel reaches to the right edge, so that an error message has room.
  StatusBarMain->addWidget(FStatePanel);
  StatusBarMain->addWidget(FMessagePanel, 1);
}

void TFormMain::CreateExtendTab(int defaultPort) {
  TabExtend = new QWidget;
  TabExtend->setObjectName("TabExtend");
  PageCont->addTab(TabExtend, "拡張");
  GroupPub = Place(new QGroupBox("公開しないファイル", TabExtend), "GroupPub", 8, 8, 385, 118);
  CheckNormal = PlaceCheck(GroupPub, "CheckNormal", "通常ファイル", 8, 16, 97, 25, false);
  CheckNormal->setEnabled(false);
  CheckNormal->setAccessibleDescription("通常のファイル");
  CheckExtension = PlaceCheck(GroupPub, "CheckExtension", "拡張子指定する", 144, 16, 105, 17, false);
  EditExt = Place(new QLineEdit(GroupPub), "EditExt", 256, 16, 57, 20);
  EditExt->setEnabled(false);
  CheckReadOnly = PlaceCheck(GroupPub, "CheckReadOnly", "読み取り専用", 8, 40, 97, 25, false);
  CheckHidden = PlaceCheck(GroupPub, "CheckHidden", "隠しファイル", 8, 64, 97, 25, true);
  CheckSystem = PlaceCheck(GroupPub, "CheckSystem", "システムファイル", 8, 88, 113, 25, true);

  GroupAuth = Place(new QGroupBox("アクセス制限", TabExtend), "GroupAuth", 8, 128, 385, 81);
  PlaceLabel(GroupAuth, "Label5", "ポート番号", 16, 24);
  SpinPort = Place(new TPortSpinBox(defaultPort, GroupAuth), "SpinPort", 40, 40, 81, 21);
  GroupUserAuth = Place(new QGroupBox("ユーザー認証", GroupAuth), "GroupUserAuth", 136, 8, 241, 65);
  PlaceLabel(GroupUserAuth, "Label3", "ユーザー名", 16, 20);
  EditUserName = Place(new QLineEdit(GroupUserAuth), "EditUserName", 88, 16, 137, 20);
  PlaceLabel(GroupUserAuth, "Label4", "パスワード", 16, 42);
  EditPassword = Place(new QLineEdit(GroupUserAuth), "EditPassword", 88, 40, 137, 20);
  EditPassword->setEchoMode(QLineEdit::Password);
  CheckHttps = PlaceCheck(GroupAuth, "CheckHttps", "HTTPS", 16, 62, 81, 17, false);
  CheckHttps->setToolTip("HTTPS（暗号化）で公開します。平文の要求は https:// へ転送されます");
}

void TFormMain::ConnectHandlers() {
  connect(ButtonRoot, &QPushButton::clicked, this, &TFormMain::ButtonRootClick);
  connect(ButtonExec, &QPushButton::clicked, this, &TFormMain::ButtonExecClick);
  connect(ButtonStop, &QPushButton::clicked, this, &TFormMain::ButtonStopClick);
  connect(CheckExtension, &QCheckBox::toggled, this, &TFormMain::CheckExtensionClick);
  connect(SpinPort, &TPortSpinBox::PortTextChanged, this, &TFormMain::SpinPortChange);
  ComboAddress->lineEdit()->installEventFilter(this);
  connect(ButtonQR, &QPushButton::clicked, this, &TFormMain::ShowQrCode);
  for (QWidget* box : {static_cast<QWidget*>(ComboAddress), static_cast<QWidget*>(ComboAddress->lineEdit())}) {
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box, &QWidget::customContextMenuRequested, this,
            [this, box](const QPoint& position) { ShowAddressMenu(box, position); });
  }
  // Every control that holds a setting refreshes the copy that connection threads read.
  for (QCheckBox* check : {CheckReadOnly, CheckHidden, CheckSystem, CheckExtension})
    connect(check, &QCheckBox::toggled, this, &TFormMain::RefreshSettings);
  for (QLineEdit* edit : {EditExt, EditUserName, EditPassword})
    connect(edit, &QLineEdit::textChanged, this, &TFormMain::RefreshSettings);
}

void TFormMain::applyRunningState(bool running) {
  ButtonExec->setEnabled(!running);
  ButtonStop->setEnabled(running);
  EditRoot->setEnabled(!running);
  ButtonRoot->setEnabled(true);
  GroupPub->setEnabled(!running);
  GroupAuth->setEnabled(!running);
  FStatePanel->setText(running ? "稼動中" : "停止中");
}

// The message panel may be too narrow for a whole sentence: it ends what it shows in "…", and its
// tip shows all of it.
void TFormMain::ShowMessage(const QString& message) {
  FMessagePanel->setText(message);
  FMessagePanel->setToolTip(message);
}

void TFormMain::SetRoot(const std::string& root) {
  FRoot = root;
  EditRoot->setText(FromSystem(root));
  RefreshSettings();
}

void TFormMain::RefreshSettings() {
  TPublishSettings settings;
  settings.Root = FRoot;
  settings.ExcludeReadOnly = CheckReadOnly->isChecked();
  settings.ExcludeHidden = CheckHidden->isChecked();
  settings.ExcludeSystem = CheckSystem->isChecked();
  settings.ExtensionFilter = CheckExtension->isChecked();
  settings.Extension = ToSystem(EditExt->text());
  settings.UserName = ToSystem(EditUserName->text());
  settings.Password = ToSystem(EditPassword->text());
  FSettings.Update(settings);
}

// Handlers

// MimeTypes was filled with the server that owns it. The address list carries the port the field
// starts with, so that a default other than 80 shows from the start.
void TFormMain::FormCreate(const std::vector<std::string>& arguments) {
  FillAddressList(true);
  if (!arguments.empty())
    SetRoot(RootFromArgument(arguments.front()));
}

void TFormMain::FormClose() {
  // Connections still running past the wait end before the window's objects go (see FServer).
  try {
    FServer.Stop();
  } catch (const std::exception& error) {
    FLogSink.AppendLine(ExceptionLogLine(error));
  }
}

void TFormMain::ButtonRootClick() {
  const QString folder = BrowseRootFolder(this);
  if (!folder.isEmpty())
    SetRoot(ToSystem(folder));
}

void TFormMain::ButtonExecClick() {
  if (FRoot.empty()) {
    QMessageBox::critical(this, "エラー", "ルートフォルダを指定してください。");
    return;
  }
  const int port = SpinPort->Commit();
  TTlsIdentity tls;
  if (CheckHttps->isChecked()) {
    try {
      tls = StartTlsIdentity({}, {});
    } catch (const std::exception& error) {
      FLogSink.AppendLine(ExceptionLogLine(error));
      ShowMessage(QString::fromStdString(TlsFailureText(error)));
      return;
    }
  }
  FServer.SetTls(tls);
  try {
    FServer.Start(port);
  } catch (const std::exception& error) {
    // Nothing listens: the window stays stopped and says why, in words; the log keeps the
    // engine's class name.
    FLogSink.AppendLine(ExceptionLogLine(error));
    ShowMessage(QString::fromStdString(ListenFailureText(error, port, TPortHint::Window)));
    return;
  }
  applyRunningState(true);
  // Addresses come and go (a new network, a VPN): the list is read again at every start.
  FillAddressList(true);
  // Where a client should go: the first entry of the address list, with the port listened on.
  const std::string first = HostAddress(0);
  QString address;
  if (!first.empty()) {
    const std::string entry = AddressEntry(first, true, port);
    address = QString::fromStdString(tls.Context ? SecureAddress(entry) : entry);
  }
  ShowMessage(address);
  if (ComboAddress->currentText().trimmed().isEmpty())
    ComboAddress->setEditText(address);
  FLogSink.AppendLine(StartLogLine(FFormats, platform::Now()));
  if (!tls.AuthorityDer.empty()) {
    FAuthorityAddress = QString::fromStdString(AuthorityAddress(first.empty() ? "127.0.0.1" : first, port));
    FAuthorityFingerprint = QString::fromStdString(tls.AuthorityFingerprint);
    FLogSink.AppendLine("CA SHA-256: " + tls.AuthorityFingerprint);
    FLogSink.AppendLine(FAuthorityAddress.toStdString());
  }
}

void TFormMain::ButtonStopClick() {
  try {
    FServer.Stop();
  } catch (const std::exception& error) {
    // The controls stay as they were; the operator learns why.
    QMessageBox::critical(this, QApplication::applicationName(), FromSystem(error.what()));
    return;
  }
  applyRunningState(false);
  ShowMessage({});
  FAuthorityAddress.clear();
  FAuthorityFingerprint.clear();
  FLogSink.AppendLine(StopLogLine(FFormats, platform::Now()));
}

void TFormMain::CheckExtensionClick() {
  EditExt->setEnabled(CheckExtension->isChecked());
}

void TFormMain::SpinPortChange() {
  FillAddressList(true);
}

void TFormMain::EditAddressDblClick() {
  const QString browse = QString::fromStdString(BrowseAddress(ComboAddress->currentText().trimmed().toStdString()));
  QDesktopServices::openUrl(QUrl(browse, QUrl::TolerantMode));
}

// The box's own editing commands stay, below the two for the address.
void TFormMain::ShowAddressMenu(QWidget* source, const QPoint& position) {
  QMenu* menu = ComboAddress->lineEdit()->createStandardContextMenu();
  menu->setObjectName("MenuAddress");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* first = menu->actions().value(0);
  QAction* showCode = new QAction("QRコードを表示", menu);
  QAction* copy = new QAction("アドレスをコピー", menu);
  const bool any = !PhoneAddress().isEmpty();
  showCode->setEnabled(any);
  copy->setEnabled(any);
  QAction* showAuthority = new QAction("CA証明書のQRコードを表示", menu);
  showAuthority->setObjectName("ActionAuthorityQR");
  showAuthority->setEnabled(!FAuthorityAddress.isEmpty());
  connect(showCode, &QAction::triggered, this, &TFormMain::ShowQrCode);
  connect(copy, &QAction::triggered, this, &TFormMain::CopyAddress);
  connect(showAuthority, &QAction::triggered, this, &TFormMain::ShowAuthorityQrCode);
  menu->insertActions(first, {showCode, copy, showAuthority});
  menu->insertSeparator(first);
  menu->popup(source->mapToGlobal(position));
}

void TFormMain::ShowQrCode() {
  const QString address = PhoneAddress();
  if (address.isEmpty())
    return;
  auto* dialog = new TQrCodeDialog(address, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
}

void TFormMain::ShowAuthorityQrCode() {
  if (FAuthorityAddress.isEmpty())
    return;
  const QString note = "この端末で開いてCA証明書をインストールし、指紋を確かめてください\nSHA-256: " + FAuthorityFingerprint;
  auto* dialog = new TQrCodeDialog(FAuthorityAddress, this, note);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
}

void TFormMain::CopyAddress() {
  const QString address = PhoneAddress();
  if (!address.isEmpty())
    QGuiApplication::clipboard()->setText(address);
}

// Address list

std::string TFormMain::HostAddress(int index) const {
  const std::vector<std::string> addresses = FAddressSource();
  return index >= 0 && static_cast<std::size_t>(index) < addresses.size() ? addresses[index] : std::string();
}

QString TFormMain::PhoneAddress() const {
  const QString typed = ComboAddress->currentText().trimmed();
  const QString entry = typed.isEmpty() && ComboAddress->count() > 0 ? ComboAddress->itemText(0) : typed;
  return QString::fromStdString(BrowseAddress(entry.toStdString()));
}

void TFormMain::FillAddressList(bool withPort) {
  const QString typed = ComboAddress->currentText();
  ComboAddress->clear();
  for (int index = 0; index < kMaxAddressEntries; ++index) {
    if (HostAddress(index).empty())
      continue;
    const long long port = withPort ? SpinPort->TextValue() : 80;
    ComboAddress->addItem(QString::fromStdString(AddressEntry(HostAddress(index), withPort, port)));
  }
  ComboAddress->setCurrentIndex(-1);
  ComboAddress->setEditText(typed);
}

// Events

void TFormMain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TFormMain::resizeEvent(QResizeEvent* event) {
  PlaceGrowingControls();
  QWidget::resizeEvent(event);
}

void TFormMain::keyPressEvent(QKeyEvent* event) {
  // The start button is the window's default button: Enter presses it wherever the focus is,
  // unless the focus is on another button, which Enter then presses.
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
    QWidget::keyPressEvent(event);
    return;
  }
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  QPushButton* button = focused != nullptr ? focused : ButtonExec;
  if (button->isEnabled())
    button->click();
  event->accept();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ComboAddress->lineEdit() && event->type() == QEvent::MouseButtonDblClick)
    EditAddressDblClick();
  return QWidget::eventFilter(watched, event);
}
