#pragma once
// The main window: the operator's controls, which are the publish settings, the log, the
// address list, and starting and stopping the server.

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "app/AddressList.h"
#include "app/DefaultPort.h"
#include "app/SettingsSnapshot.h"
#include "app/WindowLogSink.h"
#include "platform/RegionalFormats.h"
#include "publish/PublishServer.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class TElidedLabel;
class TPortSpinBox;

/// The application's only window. Owns its controls, the publishing server (the HTTP server
/// httpd with the request handler and the MIME table MimeTypes), the settings copy that
/// connection threads read and the log sink they write to. Every member runs in the window's
/// thread; the settings source and the log sink it hands out may be used from any thread while
/// the window lives. The window starts at the design's size and may grow; the log grows with it.
/// Controls carry their names as object names, so that tests find them.
class TFormMain : public QWidget {
  Q_OBJECT
public:
  /// arguments: the command line after the program's name, in the system code page.
  /// addresses: where the address list takes this host's addresses from.
  /// defaultPort: what the port field shows at start.
  explicit TFormMain(const std::vector<std::string>& arguments = {}, TAddressSource addresses = HostAddresses,
                     int defaultPort = DefaultPort(), QWidget* parent = nullptr);
  /// Ends every connection first, waiting as long as they take, as closing does.
  ~TFormMain() override;

  /// The publish settings, one consistent set per call. Any thread.
  const ISettingsSource& SettingsSource() const;
  /// The log, one whole line per call. Any thread.
  ILogSink& LogSink();

  /// Restores the window if minimised, raises and activates it (a second start asks for this).
  void BringToFront();

  /// The index-th address of this host in dotted form; empty when there is none.
  std::string HostAddress(int index) const;
  /// Rebuilds the address list; withPort takes the port from the port field.
  void FillAddressList(bool withPort);

  /// The address a phone is offered: the address box's text, or its first entry when the box is
  /// empty; empty when there is neither.
  QString PhoneAddress() const;

protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate(const std::vector<std::string>& arguments);
  void FormClose();
  void ButtonRootClick();
  void ButtonExecClick();
  void ButtonStopClick();
  void CheckExtensionClick();
  void SpinPortChange();
  void EditAddressDblClick();
  void ShowAddressMenu(QWidget* source, const QPoint& position);
  void ShowQrCode();
  /// The QR code of http://ADDRESS:PORT/?ca with the authority's fingerprint; while serving
  /// HTTPS from the local authority.
  void ShowAuthorityQrCode();
  void CopyAddress();

  void CreateControls(int defaultPort);
  void CreateMainTab();
  void CreateExtendTab(int defaultPort);
  void ConnectHandlers();
  void PlaceGrowingControls();
  void applyRunningState(bool running);
  void ShowMessage(const QString& message);
  void SetRoot(const std::string& root);
  void RefreshSettings();

  QTabWidget* PageCont = nullptr;
  QWidget* TabMain = nullptr;
  QWidget* TabExtend = nullptr;
  QLineEdit* EditRoot = nullptr;
  QPushButton* ButtonRoot = nullptr;
  QComboBox* ComboAddress = nullptr;
  QPushButton* ButtonQR = nullptr;  // beside the address box: its QR code
  QPushButton* ButtonExec = nullptr;
  QPushButton* ButtonStop = nullptr;
  QPlainTextEdit* MemoLog = nullptr;
  QStatusBar* StatusBarMain = nullptr;
  QLabel* FStatePanel = nullptr;    // first panel: "停止中" or "稼動中"
  TElidedLabel* FMessagePanel = nullptr;  // second panel: where clients reach the server, or why it does not listen
  QGroupBox* GroupPub = nullptr;
  QCheckBox* CheckNormal = nullptr;
  QCheckBox* CheckExtension = nullptr;
  QLineEdit* EditExt = nullptr;
  QCheckBox* CheckReadOnly = nullptr;
  QCheckBox* CheckHidden = nullptr;
  QCheckBox* CheckSystem = nullptr;
  QGroupBox* GroupAuth = nullptr;
  TPortSpinBox* SpinPort = nullptr;
  QGroupBox* GroupUserAuth = nullptr;
  QLineEdit* EditUserName = nullptr;
  QLineEdit* EditPassword = nullptr;
  QCheckBox* CheckHttps = nullptr;  // HTTPS and plain HTTP on the same port, from the next start

  TAddressSource FAddressSource;
  std::string FRoot;  // the root as chosen or given, in the system code page; EditRoot shows it
  QString FAuthorityAddress;      // while serving HTTPS from the local authority: where /?ca is
  QString FAuthorityFingerprint;  // and the authority's SHA-256 fingerprint
  TSettingsSnapshot FSettings;
  const platform::TRegionalFormats FFormats = platform::TRegionalFormats::FromLocale();
  TWindowLogSink FLogSink;
  // Declared after everything its connection threads use, so destroyed before any of it. The
  // log control they write to is a child of the window, destroyed later still.
  TPublishServer FServer;
  TIdHTTPServer& httpd;     // FServer's
  TIdMimeTable& MimeTypes;  // FServer's
};
