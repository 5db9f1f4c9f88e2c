#include "platform/Process.h"

#include <grp.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

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

// Which ports may be bound
TEST(Process, BindRightsAllowALowPortForRootTheCapabilityOrALoweredStart) {
  struct TCase {
    TBindRights Rights;
    int Port;
    bool Allowed;
  };
  const TCase cases[] = {
      {{false, false, 1024}, 80, false},   {{false, false, 1024}, 1024, true}, {{false, false, 1024}, 1023, false},
      {{true, false, 1024}, 80, true},     {{false, true, 1024}, 80, true},    {{false, false, 80}, 80, true},
      {{false, false, 81}, 80, false},     {{false, false, 0}, 1, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Rights.Root << c.Rights.NetBindService << " start "
                                    << c.Rights.UnprivilegedPortStart << " port " << c.Port);
    EXPECT_EQ(c.Allowed, c.Rights.MayBind(c.Port));
  }
}

// Whether binding port on every address is refused for want of rights (taken counts as allowed).
bool KernelAllowsBinding(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool refused = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EACCES;
  ::close(fd);
  return !refused;
}

// The rights read from /proc agree with what the kernel then does, for this process and, when it
// runs as root, for a child that became the unprivileged user nobody.
TEST(Process, BindRightsAgreeWithTheKernel) {
  for (const int port : {80, 1023})
    EXPECT_EQ(KernelAllowsBinding(port), BindRights().MayBind(port)) << port;
  if (::geteuid() != 0)
    return;
  const pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0)
      ::_exit(2);
    const TBindRights rights = BindRights();
    const bool agree = !rights.Root && !rights.NetBindService && KernelAllowsBinding(80) == rights.MayBind(80) &&
                       KernelAllowsBinding(1023) == rights.MayBind(1023);
    ::_exit(agree ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
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
  EXPECT_EQ(folder + "platform_tests", ExecutablePath());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;  // keeps its own memory, whatever the C library does
#else
constexpr bool kSanitizerAllocator = false;
#endif

std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Memory freed below a block still in use stays resident until it is handed back: the case of
// a burst of listings whose last allocation outlives them.
TEST(Process, ReleaseFreeMemoryHandsBackWhatIsFreeBelowABlockInUse) {
  if (kSanitizerAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps its own memory";
  constexpr std::size_t block = 4096, count = 16384;  // 64 MiB, each block below mmap's size
  std::vector<void*> blocks;
  blocks.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    blocks.push_back(std::malloc(block));
    std::memset(blocks.back(), 1, block);
  }
  void* pin = std::malloc(block);
  std::memset(pin, 1, block);
  for (void* freed : blocks) std::free(freed);
  const std::size_t before = ResidentBytes();
  ReleaseFreeMemory();
  const std::size_t after = ResidentBytes();
  std::free(pin);
  EXPECT_GT(before, after + count * block / 2) << before << " " << after;
}

}  // namespace
