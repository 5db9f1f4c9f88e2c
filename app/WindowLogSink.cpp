#include "app/WindowLogSink.h"

#include <QPlainTextEdit>

#include "platform/Text.h"

TWindowLogSink::TWindowLogSink(QPlainTextEdit* log) : FLog(log) {}

void TWindowLogSink::AppendLine(const std::string& line) {
  // The text is made here so that the queued call owns a finished copy; one queued call per
  // line keeps each line whole, and the event queue keeps each thread's order.
  const QString text = QString::fromStdString(platform::CodePageToUtf8(line));
  QPlainTextEdit* const log = FLog;
  QMetaObject::invokeMethod(log, [log, text] { log->appendPlainText(text); }, Qt::QueuedConnection);
}
