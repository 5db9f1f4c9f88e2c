#include "app/Headless.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/AddressList.h"
#include "app/DefaultPort.h"
#include "app/HeadlessOptions.h"
#include "app/ListenFailure.h"
#include "app/OperatorText.h"
#include "app/RootArgument.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/RegionalFormats.h"
#include "platform/Text.h"
#include "publish/LogLine.h"
#include "publish/PublishServer.h"
#include "publish/PublishSettings.h"

namespace {

/// The log on standard output: one whole line per call, flushed at once. Any thread.
class TStdoutLogSink : public ILogSink {
public:
  void AppendLine(const std::string& line) override {
    const std::lock_guard<std::mutex> guard(FLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

private:
  std::mutex FLock;  // keeps lines from different threads apart
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

// Where the server can be reached, one URL a line, as the window's address list shows them.
void LogAddresses(ILogSink& log, int port) {
  const std::vector<std::string> addresses = HostAddresses();
  for (std::size_t index = 0; index < addresses.size() && index < kMaxAddressEntries; ++index)
    log.AppendLine(AddressEntry(addresses[index], true, port));
}

// Serves until SIGINT or SIGTERM arrives. The signals are blocked before the first thread
// starts, so every thread inherits the mask and only sigwait() here ever receives them.
int Serve(int port, const TPublishSettings& publish, const sigset_t& stopSignals) {
  const platform::TRegionalFormats formats = platform::TRegionalFormats::FromLocale();
  TStdoutLogSink log;
  const TFixedSettings settings(publish);
  TPublishServer server(settings, log, formats);
  try {
    server.Start(port);
  } catch (const std::exception& error) {
    log.AppendLine(ExceptionLogLine(error));
    PrintError("velmora: " + ListenFailureText(error, port, TPortHint::CommandLine));
    return 1;
  }
  log.AppendLine(StartLogLine(formats, platform::Now()));
  LogAddresses(log, port);

  int received = 0;
  sigwait(&stopSignals, &received);
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

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int port = options.Port != 0 ? options.Port : DefaultPort();
  return Serve(port, SettingsFrom(options, root, std::move(password)), stopSignals);
}
