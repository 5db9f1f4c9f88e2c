#include "app/Headless.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/AddressList.h"
#include "app/DefaultPort.h"
#include "app/HeadlessOptions.h"
#include "app/ListenFailure.h"
#include "app/OperatorText.h"
#include "app/RootArgument.h"
#include "app/TlsStart.h"
#include "platform/AppendFile.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/OutputLines.h"
#include "platform/RegionalFormats.h"
#include "platform/Text.h"
#include "publish/AccessLogLine.h"
#include "publish/LogLine.h"
#include "publish/PublishServer.h"
#include "publish/PublishSettings.h"

namespace {

/// The log on standard output: one whole line per call, written at once. Any thread.
class TStdoutLogSink : public ILogSink {
public:
  void AppendLine(const std::string& line) override { platform::WriteOutputLine(line); }
};

/// The access log in a file of its own, opened anew on SIGHUP. Any thread.
class TFileLogSink : public ILogSink {
public:
  explicit TFileLogSink(const std::string& path) : FFile(path) {}
  bool Reopen() { return FFile.Reopen(); }
  /// A line that cannot be written (a full disk) is lost and serving goes on; the operator hears
  /// of it once each time writing begins to fail.
  void AppendLine(const std::string& line) override {
    const bool written = FFile.AppendLine(line);
    if (!written && !FFailing.exchange(true))
      PrintError("velmora: " + Bilingual("アクセスログに書けません: " + FFile.Path(),
                                         "cannot write the access log " + FFile.Path()));
    if (written) FFailing = false;
  }

private:
  platform::TAppendFile FFile;
  std::atomic<bool> FFailing{false};
};

/// Settings fixed by the command line for the whole run; nothing changes them, so any thread
/// reads them without a lock.
class TFixedSettings : public ISettingsSource {
public:
  explicit TFixedSettings(TPublishSettings settings) : FSettings(std::move(settings)) {}
  TPublishSettings Snapshot() const override { return FSettings; }

private:
  const TPublishSettings FSettings;
};

int UsageError(const std::string& reason) {
  PrintError("velmora: " + reason);
  std::fputs(kHeadlessUsage, stderr);
  return 2;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  std::string text;
  if (!platform::ReadTextFile(path, text)) return false;
  line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

TPublishSettings SettingsFrom(const THeadlessOptions& options, std::string root, std::string password) {
  TPublishSettings settings;
  settings.Root = std::move(root);
  settings.ExcludeReadOnly = options.ExcludeReadOnly;
  settings.ExcludeHidden = !options.IncludeHidden;
  settings.ExcludeSystem = !options.IncludeSystem;
  settings.ExtensionFilter = options.ExtensionFilter;
  settings.Extension = options.Extension;
  settings.UserName = options.UserName;
  settings.Password = std::move(password);
  return settings;
}

// Where the server can be reached, one URL a line, as the window's address list shows them;
// with TLS, the secure addresses, then the authority's fingerprint and where devices fetch it.
void LogAddresses(ILogSink& log, int port, const TTlsIdentity& tls) {
  const std::vector<std::string> addresses = HostAddresses();
  for (std::size_t index = 0; index < addresses.size() && index < kMaxAddressEntries; ++index) {
    const std::string entry = BrowseAddress(AddressEntry(addresses[index], true, port));
    log.AppendLine(tls.Context ? SecureAddress(entry) : entry);
  }
  if (tls.AuthorityDer.empty()) return;
  log.AppendLine("CA SHA-256: " + tls.AuthorityFingerprint);
  log.AppendLine(AuthorityAddress(addresses.empty() ? std::string("127.0.0.1") : addresses.front(), port));
}

// Serves on port until SIGINT or SIGTERM arrives; SIGHUP opens the access log file anew. The
// signals are blocked before the first thread starts, so every thread inherits the mask and only
// sigwait() here ever receives them.
int Serve(int port, const THeadlessOptions& options, const TPublishSettings& publish, const sigset_t& signals,
          TFileLogSink* accessFile) {
  const platform::TRegionalFormats formats = platform::TRegionalFormats::FromLocale();
  TStdoutLogSink log;
  const TFixedSettings settings(publish);
  TPublishServer server(settings, log, formats);
  server.KeepAlive = options.KeepAlive;
  ILogSink* accessLog = accessFile;
  if (options.AccessLog == "-") accessLog = &log;
  if (accessLog != nullptr) {
    server.httpd.OnRequestDone = [accessLog](const TIdHTTPRequestInfo& request, const TIdHTTPRequestOutcome& outcome) {
      accessLog->AppendLine(AccessLogLine(request, outcome));
    };
  }
  TTlsIdentity tls;
  if (options.Tls) {
    try {
      tls = StartTlsIdentity(options.TlsCert, options.TlsKey);
    } catch (const std::exception& error) {
      log.AppendLine(ExceptionLogLine(error));
      PrintError("velmora: " + TlsFailureText(error));
      return 1;
    }
    server.SetTls(tls);
  }
  try {
    server.Start(port);
  } catch (const std::exception& error) {
    log.AppendLine(ExceptionLogLine(error));
    PrintError("velmora: " + ListenFailureText(error, port, TPortHint::CommandLine));
    return 1;
  }
  log.AppendLine(StartLogLine(formats, platform::Now()));
  LogAddresses(log, port, tls);

  int received = 0;
  while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
    if (!accessFile->Reopen())
      PrintError("velmora: " + Bilingual("アクセスログを開き直せません: " + options.AccessLog,
                                         "cannot open the access log " + options.AccessLog + " again"));
  }
  try {
    server.Stop();
  } catch (const std::exception& error) {
    // Threads still busy past the wait: the server's destruction waits for them.
    log.AppendLine(ExceptionLogLine(error));
  }
  log.AppendLine(StopLogLine(formats, platform::Now()));
  return 0;
}

}  // namespace

int RunHeadless(const std::vector<std::string>& args) {
  THeadlessOptions options;
  std::string error;
  if (!ParseHeadlessOptions(args, options, error)) return UsageError(error);
  if (options.Help) {
    std::fputs(kHeadlessUsage, stdout);
    std::fputs(kOptionHelp, stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("%s\n", kVersionText);
    return 0;
  }
  const std::string root = RootFromArgument(options.Root);
  if (root.empty()) {
    PrintError(Bilingual("ルートフォルダを指定してください。", "Give the folder to publish."));
    if (!options.Root.empty()) {
      const std::string path = platform::CodePageToUtf8(options.Root);
      PrintError(Bilingual("velmora: フォルダもファイルもありません: " + path, "no folder or file at " + path));
    }
    std::fputs(kHeadlessUsage, stderr);
    return 2;
  }
  std::string password = options.Password;
  if (!options.PasswordFile.empty() && !ReadFirstLine(options.PasswordFile, password)) {
    const std::string path = platform::CodePageToUtf8(options.PasswordFile);
    PrintError(Bilingual("velmora: パスワードファイルを読めません: " + path, "cannot read the password file " + path));
    return 2;
  }

  std::unique_ptr<TFileLogSink> accessFile;
  if (!options.AccessLog.empty() && options.AccessLog != "-") {
    accessFile = std::make_unique<TFileLogSink>(options.AccessLog);
    if (!accessFile->Reopen()) {
      PrintError("velmora: " + Bilingual("アクセスログを開けません: " + options.AccessLog,
                                         "cannot open the access log " + options.AccessLog));
      return 2;
    }
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (accessFile) sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int port = options.Port != 0 ? options.Port : DefaultPort();
  return Serve(port, options, SettingsFrom(options, root, std::move(password)), signals, accessFile.get());
}
