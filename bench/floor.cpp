// What this machine's kernel charges for the two things no server of this design can skip:
// reading a folder the way a listing does (its entries, then one status call each), and handing
// work to a thread that waits for it (one wake-up, and the thread's return to waiting). Prints
// both as CPU time, for bench/run's table notes.
//
//   velmora-floor <folder>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct TDirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// One pass as a listing makes it: every name, and the status of each through the open folder.
// Returns the number of entries read, 0 when the folder cannot be opened.
std::size_t ReadFolder(const char* folder) {
  const std::unique_ptr<DIR, TDirCloser> dir(opendir(folder));
  if (!dir) return 0;
  std::size_t entries = 0;
  while (const dirent* entry = readdir(dir.get())) {
    struct statx status {};
    statx(dirfd(dir.get()), entry->d_name, AT_STATX_SYNC_AS_STAT,
          STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_INO, &status);
    ++entries;
  }
  return entries;
}

// Two threads handing a turn back and forth through a condition variable, as the listener hands
// a connection to a waiting connection thread: each turn wakes a thread that waits, which then
// waits again. Returns the CPU time of one turn.
double HandOffSeconds(int turns) {
  std::mutex lock;
  std::condition_variable changed;
  int turn = 0;  // guarded by lock: even for the first thread, odd for the second
  auto play = [&](int parity) {
    for (int i = 0; i < turns; ++i) {
      std::unique_lock<std::mutex> held(lock);
      changed.wait(held, [&] { return turn % 2 == parity; });
      ++turn;
      held.unlock();
      changed.notify_one();
    }
  };
  const double start = CpuSeconds();
  std::thread second(play, 1);
  play(0);
  second.join();
  return (CpuSeconds() - start) / (2.0 * turns);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-floor <folder>\n");
    return 2;
  }
  constexpr int kPasses = 200;
  constexpr int kTurns = 20000;
  if (ReadFolder(argv[1]) == 0) {
    std::fprintf(stderr, "velmora-floor: cannot read %s\n", argv[1]);
    return 1;
  }
  const double folderStart = CpuSeconds();
  for (int i = 0; i < kPasses; ++i) ReadFolder(argv[1]);
  const double folderSeconds = (CpuSeconds() - folderStart) / kPasses;

  const double wakeSeconds = HandOffSeconds(kTurns);
  std::printf("folder_ms %.3f\nwake_us %.1f\n", folderSeconds * 1e3, wakeSeconds * 1e6);
  return 0;
}
