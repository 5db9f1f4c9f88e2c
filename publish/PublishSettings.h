#pragma once
// The operator's publish settings and the two small interfaces through which the request
// handler reads them and writes the log, whoever hosts it (the window or the headless runner).

#include <string>

/// One consistent set of the operator's choices, taken once per request.
struct TPublishSettings {
  std::string Root;  // as the operator chose it, not normalised
  bool ExcludeReadOnly = false;
  bool ExcludeHidden = true;
  bool ExcludeSystem = true;
  bool ExtensionFilter = false;
  std::string Extension;  // without the dot
  std::string UserName, Password;
};

class ISettingsSource {
public:
  virtual ~ISettingsSource() = default;
  /// One consistent set per request, without waiting on the window's thread. Any thread.
  virtual TPublishSettings Snapshot() const = 0;
};

class ILogSink {
public:
  virtual ~ILogSink() = default;
  /// Appends one whole line. Any thread.
  virtual void AppendLine(const std::string& line) = 0;
};
