#include "platform/OutputLines.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Standard output goes into a pipe for the test's lifetime, read by a thread of its own.
class TStdoutIntoPipe {
public:
  TStdoutIntoPipe() {
    std::fflush(stdout);
    FSaved = ::dup(STDOUT_FILENO);
    int ends[2];
    if (::pipe(ends) != 0) return;
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    FReader = std::thread([this, in = ends[0]] {
      char block[4096];
      for (ssize_t n; (n = ::read(in, block, sizeof block)) > 0;) FText.append(block, static_cast<std::size_t>(n));
      ::close(in);
    });
  }
  // Gives standard output back and returns all that came.
  std::string Finish() {
    ::dup2(FSaved, STDOUT_FILENO);  // closes the pipe's last write end: the reader sees its end
    ::close(FSaved);
    FReader.join();
    return FText;
  }

private:
  int FSaved = -1;
  std::thread FReader;
  std::string FText;
};

std::string LineOf(int writer, int number) {
  // Every fifth line is longer than a pipe keeps whole in one write.
  const std::size_t length = number % 5 == 0 ? 10000 : 40 + static_cast<std::size_t>(number % 7) * 100;
  std::string line = std::to_string(writer) + ":" + std::to_string(number) + ":";
  line.append(length, static_cast<char>('a' + writer));
  return line;
}

TEST(OutputLinesTest, LinesOfManyThreadsArriveWholeAndApart) {
  constexpr int kWriters = 8;
  constexpr int kLines = 200;
  TStdoutIntoPipe output;
  std::vector<std::thread> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    writers.emplace_back([writer] {
      for (int number = 0; number < kLines; ++number) platform::WriteOutputLine(LineOf(writer, number));
    });
  }
  for (std::thread& thread : writers) thread.join();
  std::istringstream lines(output.Finish());
  std::map<int, int> nextOf;  // each writer's lines come in its own order
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const int writer = std::stoi(line);
    ASSERT_EQ(line, LineOf(writer, nextOf[writer])) << "line " << count;
    ++nextOf[writer];
  }
  EXPECT_EQ(count, kWriters * kLines);
}

}  // namespace
