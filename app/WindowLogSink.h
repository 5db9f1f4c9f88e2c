#pragma once
// The log sink of the window: lines from any thread end up, whole and in the order each thread
// wrote them, at the end of the window's log.

#include "publish/PublishSettings.h"

class QPlainTextEdit;

/// Hands each line (system code page) to the thread of the log control, where it is appended.
/// Lines posted while the control is being destroyed are dropped with it.
class TWindowLogSink : public ILogSink {
public:
  explicit TWindowLogSink(QPlainTextEdit* log);

  /// Appends line at the end of the log, later, on the log's thread. Any thread.
  void AppendLine(const std::string& line) override;

private:
  QPlainTextEdit* const FLog;  // context of every queued call: destroying it discards those not yet run
};
