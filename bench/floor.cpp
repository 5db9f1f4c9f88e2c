// What this machine's kernel charges for the two things no server of this design can skip:
// reading a folder the way a listing does (its entries, then one status call each), and
// starting and ending one thread. Prints both as CPU time, for bench/run's table notes.
//
//   velmora-floor <folder>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <memory>

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

std::atomic<int> gRunning{0};

// Waits without spending CPU time, which would count as the threads' cost.
void Pause() {
  const timespec step{0, 100 * 1000};
  nanosleep(&step, nullptr);
}

void* Finish(void*) {
  gRunning.fetch_sub(1);
  return nullptr;
}

// Starts and ends threads as the server's connection threads are: detached, with their stack
// size, a few dozen alive at a time. Returns once all have ended.
bool StartAndEndThreads(int count) {
  constexpr int kAlive = 32;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1u << 20);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  bool started = true;
  for (int i = 0; i < count && started; ++i) {
    while (gRunning.load() >= kAlive) Pause();
    gRunning.fetch_add(1);
    pthread_t thread;
    started = pthread_create(&thread, &attributes, &Finish, nullptr) == 0;
    if (!started) gRunning.fetch_sub(1);
  }
  pthread_attr_destroy(&attributes);
  while (gRunning.load() > 0) Pause();
  // The last threads are still leaving the kernel after they counted themselves out.
  const timespec settle{0, 50 * 1000 * 1000};
  nanosleep(&settle, nullptr);
  return started;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-floor <folder>\n");
    return 2;
  }
  constexpr int kPasses = 200;
  constexpr int kThreads = 5000;
  if (ReadFolder(argv[1]) == 0) {
    std::fprintf(stderr, "velmora-floor: cannot read %s\n", argv[1]);
    return 1;
  }
  const double folderStart = CpuSeconds();
  for (int i = 0; i < kPasses; ++i) ReadFolder(argv[1]);
  const double folderSeconds = (CpuSeconds() - folderStart) / kPasses;

  const double threadStart = CpuSeconds();
  if (!StartAndEndThreads(kThreads)) {
    std::fprintf(stderr, "velmora-floor: cannot start threads\n");
    return 1;
  }
  const double threadSeconds = (CpuSeconds() - threadStart) / kThreads;
  std::printf("folder_ms %.3f\nthread_us %.1f\n", folderSeconds * 1e3, threadSeconds * 1e6);
  return 0;
}
