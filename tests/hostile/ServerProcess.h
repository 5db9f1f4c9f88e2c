#pragma once
// The headless program as a child process of the hostile-client tests: started over a root
// folder on a port, watched for its resident memory, stopped by a signal. Every wait is bounded.

#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace hostile {

/// One run of `velmora --headless --port <port> [options] <root>` in the C locale at UTC, its
/// standard output and error going to files in logFolder. A guard thread kills it with SIGKILL when its
/// resident memory passes guardKiB, so that a server without limits cannot take the machine
/// with it. Used by one test thread; the guard thread only reads the process's status and
/// never outlives the unreaped process, so the id it signals is always this one's.
class TServerProcess {
public:
  TServerProcess(std::string binary, std::string root, std::string logFolder, int port, long guardKiB,
                 std::vector<std::string> options = {});
  ~TServerProcess();  // kills a server still running
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  /// Starts the server with this soft open-file limit and waits until it logs its start.
  /// False when it ends or stays silent for 20 s; Error() then says what it wrote.
  bool Start(rlim_t openFileLimit);
  /// False once the process has ended, by itself or by the guard.
  bool Running() const;
  /// The resident size at which the guard killed the server, 0 when it did not.
  long GuardKillKiB() const { return FGuardKillKiB; }

  /// VmRSS and VmHWM of the process's status in KiB; 0 when unreadable.
  long ResidentKiB() const;
  long PeakKiB() const;
  /// The peak starts again from the present resident size.
  void ResetPeak() const;

  /// Sends SIGTERM and waits up to 20 s: the exit status, or -1 when the server did not exit
  /// by itself (it is killed then) or died of a signal.
  int Stop();

  int Port() const { return FPort; }
  /// Standard output and standard error so far.
  std::string Output() const;
  std::string Error() const;

private:
  void Guard();
  std::string StatusFile(const char* name) const;
  long StatusKiB(const std::string& field) const;
  int Reap();

  const std::string FBinary, FRoot, FOutputPath, FErrorPath;
  const std::vector<std::string> FOptions;
  const int FPort;
  const long FGuardKiB;
  pid_t FPid = -1;
  bool FReaped = false;
  std::atomic<bool> FStopGuard{false};
  std::atomic<long> FGuardKillKiB{0};
  std::thread FGuard;
};

}  // namespace hostile
