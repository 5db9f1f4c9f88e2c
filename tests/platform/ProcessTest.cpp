#include "platform/Process.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(Process, RaisesTheSoftOpenFileLimitToTheHardLimit) {
  rlimit original{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &original));
  rlimit lowered = original;
  lowered.rlim_cur = std::min<rlim_t>(original.rlim_max, 256);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &lowered));

  EXPECT_EQ(original.rlim_max, RaiseOpenFileLimit());
  rlimit now{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &now));
  EXPECT_EQ(original.rlim_max, now.rlim_cur);
  EXPECT_EQ(original.rlim_max, now.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &original);
}

TEST(Process, FindsASymbolInTheFirstModuleThatLoads) {
  std::string error;
  EXPECT_NE(FindModuleSymbol({"/nonexistent/module.so", "libm.so.6"}, "cos", error), nullptr);
  EXPECT_EQ(FindModuleSymbol({"/nonexistent/module.so"}, "cos", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/module.so"), std::string::npos) << error;
  EXPECT_EQ(FindModuleSymbol({"libm.so.6"}, "no_such_symbol_here", error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST(Process, ExecutableFolderHoldsThisProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder.front());
  EXPECT_EQ('/', folder.back());
  EXPECT_EQ(0, ::access((folder + "platform_tests").c_str(), X_OK)) << folder;
}

}  // namespace
