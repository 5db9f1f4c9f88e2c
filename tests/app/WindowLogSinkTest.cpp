#include "app/WindowLogSink.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>

#include <cstdio>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 400;

// A line long enough that a torn write would show: thread, number, and a tail of its own letter.
std::string LineOf(int thread, int number) {
  return "thread " + std::to_string(thread) + " line " + std::to_string(number) + " " +
         std::string(200, static_cast<char>('a' + thread));
}

TEST(TWindowLogSink, LinesFromManyThreadsArriveWholeAndInEachThreadsOrder) {
  QPlainTextEdit log;
  TWindowLogSink sink(&log);
  std::vector<std::thread> writers;
  for (int thread = 0; thread < kThreads; ++thread)
    writers.emplace_back([&sink, thread] {
      for (int number = 0; number < kLinesPerThread; ++number)
        sink.AppendLine(LineOf(thread, number));
    });
  for (std::thread& writer : writers)
    writer.join();
  QCoreApplication::processEvents();

  const QStringList lines = log.toPlainText().split('\n');
  ASSERT_EQ(kThreads * kLinesPerThread, lines.size());
  std::map<int, int> next;  // thread -> number of the line expected next from it
  for (const QString& text : lines) {
    const std::string line = text.toStdString();
    int thread = -1;
    int number = -1;
    ASSERT_EQ(2, std::sscanf(line.c_str(), "thread %d line %d", &thread, &number)) << line;
    ASSERT_EQ(LineOf(thread, number), line);
    ASSERT_EQ(next[thread]++, number) << "out of order from thread " << thread;
  }
}

// A line still queued when its log control goes is dropped with it; another control's line,
// queued behind it, still arrives. Under AddressSanitizer a late append to the destroyed
// control would also show as a use after free.
TEST(TWindowLogSink, LinesStillQueuedWhenTheLogGoesAreDropped) {
  auto gone = std::make_unique<QPlainTextEdit>();
  QPlainTextEdit kept;
  TWindowLogSink goneSink(gone.get());
  TWindowLogSink keptSink(&kept);
  goneSink.AppendLine("late line");
  keptSink.AppendLine("kept line");
  gone.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(QString("kept line"), kept.toPlainText());
}

TEST(TWindowLogSink, ShiftJisLinesShowAsTheirCharacters) {
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  QPlainTextEdit log;
  TWindowLogSink sink(&log);
  sink.AppendLine("\x83\x65\x83\x58\x83\x67 /a");  // "テスト /a" in Shift-JIS
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  QCoreApplication::processEvents();
  EXPECT_EQ(QString("テスト /a"), log.toPlainText());
}

}  // namespace
