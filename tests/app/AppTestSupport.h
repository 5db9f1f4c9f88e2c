#pragma once
// Helpers shared by the window's tests.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>
#include <string>

/// Lets the event loop run until condition holds; false when it still does not after a
/// generous bound (a hang, not a measure of speed).
inline bool WaitUntil(const std::function<bool()>& condition) {
  QDeadlineTimer deadline(30000);
  while (!condition()) {
    if (deadline.hasExpired())
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

#include <QString>

#include <ostream>

// Failure messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

/// Whether text holds no byte above 127: English, not Japanese.
inline bool IsAscii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}
