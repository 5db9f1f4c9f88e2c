// Child processes: output collected, and the time and output bounds enforced.

#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using platform::FindProgram;
using platform::RunProgram;

TEST(ChildProcess, RunsAProgramWithoutAShellAndCollectsItsOutput) {
  const std::string echo = FindProgram("echo");
  ASSERT_FALSE(echo.empty());
  std::string output;
  // A shell would expand these; the program gets them as they are.
  EXPECT_TRUE(RunProgram({echo, "$HOME", "*", "a;b"}, 5000, 1 << 30, 1024, output));
  EXPECT_EQ(output, "$HOME * a;b\n");
  EXPECT_FALSE(RunProgram({FindProgram("false")}, 5000, 1 << 30, 1024, output));
  EXPECT_FALSE(RunProgram({"/nonexistent/program"}, 5000, 1 << 30, 1024, output));
  EXPECT_EQ(FindProgram("no-such-program-anywhere"), "");
}

TEST(ChildProcess, AProgramOverItsBoundsIsStopped) {
  std::string output = "kept";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunProgram({FindProgram("sleep"), "30"}, 200, 1 << 30, 1024, output));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // Endless output beyond the bound.
  EXPECT_FALSE(RunProgram({FindProgram("yes")}, 5000, 1 << 30, 4096, output));
  EXPECT_EQ(output, "kept");
  // A memory limit too small for the program to start.
  EXPECT_FALSE(RunProgram({FindProgram("echo"), "x"}, 5000, 1 << 16, 1024, output));
}

}  // namespace
