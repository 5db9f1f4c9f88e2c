#include "hostile/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

namespace hostile {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kStartWait{20000};
constexpr milliseconds kStopWait{20000};
constexpr milliseconds kPoll{20};
constexpr milliseconds kGuardPoll{10};

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

/// A file descriptor closed by its destructor.
class TFd {
public:
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }

private:
  int FFd;
};

}  // namespace

TServerProcess::TServerProcess(std::string binary, std::string root, std::string logFolder, int port, long guardKiB,
                               std::vector<std::string> options)
    : FBinary(std::move(binary)),
      FRoot(std::move(root)),
      FOutputPath(logFolder + "/server-" + std::to_string(port) + ".out"),
      FErrorPath(logFolder + "/server-" + std::to_string(port) + ".err"),
      FOptions(std::move(options)),
      FPort(port),
      FGuardKiB(guardKiB) {}

TServerProcess::~TServerProcess() {
  if (FPid > 0 && !FReaped) {
    FStopGuard = true;
    if (FGuard.joinable()) FGuard.join();
    ::kill(FPid, SIGKILL);
    Reap();
  }
}

bool TServerProcess::Start(rlim_t openFileLimit) {
  // Everything the child needs is made before fork: after it, only async-signal-safe calls.
  const std::string port = std::to_string(FPort);
  std::vector<const char*> args{FBinary.c_str(), "--headless", "--port", port.c_str()};
  for (const std::string& option : FOptions) args.push_back(option.c_str());
  args.push_back(FRoot.c_str());
  args.push_back(nullptr);
  const char* environment[] = {"LC_ALL=C", "TZ=UTC", "PATH=/usr/bin:/bin", nullptr};
  const TFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const TFd output(::open(FOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  const TFd error(::open(FErrorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min(openFileLimit, files.rlim_max);
  if (input.Get() < 0 || output.Get() < 0 || error.Get() < 0) return false;

  FPid = ::fork();
  if (FPid == 0) {
    // The server must not outlive a test program that is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(input.Get(), 0);
    ::dup2(output.Get(), 1);
    ::dup2(error.Get(), 2);
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::execve(FBinary.c_str(), const_cast<char* const*>(args.data()), const_cast<char* const*>(environment));
    ::_exit(127);
  }
  if (FPid < 0) return false;
  FGuard = std::thread([this] { Guard(); });

  const auto deadline = steady_clock::now() + kStartWait;
  while (Output().find("サーバ起動\n") == std::string::npos) {
    if (!Running() || steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

bool TServerProcess::Running() const {
  if (FPid <= 0 || FReaped || FGuardKillKiB > 0) return false;
  // WNOWAIT leaves the ended process unreaped, so its id cannot be reused under the guard.
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void TServerProcess::Guard() {
  while (!FStopGuard) {
    const long resident = ResidentKiB();
    if (resident > FGuardKiB) {
      FGuardKillKiB = resident;
      ::kill(FPid, SIGKILL);
      return;
    }
    std::this_thread::sleep_for(kGuardPoll);
  }
}

std::string TServerProcess::StatusFile(const char* name) const {
  return "/proc/" + std::to_string(FPid) + "/" + name;
}

long TServerProcess::StatusKiB(const std::string& field) const {
  std::ifstream status(StatusFile("status"));
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0) return std::stol(line.substr(field.size()));
  }
  return 0;
}

long TServerProcess::ResidentKiB() const { return StatusKiB("VmRSS:"); }

long TServerProcess::PeakKiB() const { return StatusKiB("VmHWM:"); }

void TServerProcess::ResetPeak() const {
  // "5" resets the peak resident size to the present one (proc(5), clear_refs).
  std::ofstream(StatusFile("clear_refs")) << "5";
}

int TServerProcess::Stop() {
  FStopGuard = true;
  if (FGuard.joinable()) FGuard.join();
  if (FPid <= 0 || FReaped) return -1;
  ::kill(FPid, SIGTERM);
  const auto deadline = steady_clock::now() + kStopWait;
  while (Running() && steady_clock::now() < deadline) std::this_thread::sleep_for(kPoll);
  if (Running()) {
    ::kill(FPid, SIGKILL);
    Reap();
    return -1;
  }
  return Reap();
}

int TServerProcess::Reap() {
  int status = 0;
  const pid_t reaped = ::waitpid(FPid, &status, 0);
  FReaped = true;
  return reaped == FPid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TServerProcess::Output() const { return ReadWhole(FOutputPath); }

std::string TServerProcess::Error() const { return ReadWhole(FErrorPath); }

}  // namespace hostile
