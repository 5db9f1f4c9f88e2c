#include "platform/ChildProcess.h"

#include "platform/ScopeGuard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace platform {

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const std::string_view folder = rest.substr(0, rest.find(':'));
    if (!folder.empty()) {
      const std::string candidate = std::string(folder) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (folder.size() == rest.size()) return {};
    rest.remove_prefix(folder.size() + 1);
  }
}

bool RunProgram(const std::vector<std::string>& arguments, int timeoutMs, std::uint64_t memoryBytes,
                std::size_t maxOutput, std::string& output) {
  if (arguments.empty()) return false;
  // Everything the child needs is made before the fork: after it, in a threaded process, the
  // child may only make system calls.
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  const int nullHandle = open("/dev/null", O_RDWR | O_CLOEXEC);
  const rlimit memory{memoryBytes, memoryBytes};
  const pid_t child = fork();
  if (child == 0) {
    setrlimit(RLIMIT_AS, &memory);
    dup2(nullHandle, 0);
    dup2(pipeEnds[1], 1);
    dup2(nullHandle, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  if (nullHandle != -1) close(nullHandle);
  const TAtScopeEnd closeRead([&] { close(pipeEnds[0]); });
  if (child < 0) return false;

  std::string read;
  bool overrun = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      overrun = true;
      break;
    }
    pollfd entry{pipeEnds[0], POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char block[65536];
    const ssize_t n = ::read(pipeEnds[0], block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its output: it is ending
    if (read.size() + static_cast<std::size_t>(n) > maxOutput) {
      overrun = true;
      break;
    }
    read.append(block, static_cast<std::size_t>(n));
  }
  int status = 0;
  // A child that closed its output may still run: it gets what is left of its time.
  while (!overrun && waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      overrun = true;
    } else {
      pollfd none{-1, 0, 0};
      poll(&none, 1, 10);
    }
  }
  if (overrun) {
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (overrun || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  output = std::move(read);
  return true;
}

}  // namespace platform
