#include "http/server/IdThreadMgrPool.h"

#include "http/server/IdPeerThread.h"
#include "platform/Process.h"

#include <utility>

TIdThreadMgrPool::TIdThreadMgrPool(std::size_t poolSize, std::chrono::milliseconds quietTime,
                                   std::function<void()> onQuiet)
    : PoolSize(poolSize),
      QuietTime(quietTime),
      FOnQuiet(std::move(onQuiet)),
      FQuietWatcher(&TIdThreadMgrPool::WatchQuiet, this) {}

TIdThreadMgrPool::~TIdThreadMgrPool() {
  TerminateThreads();
  {
    platform::TLockGuard lock(FLock);
    FEnding = true;
  }
  FQuietBegan.notify_all();
  FQuietWatcher.join();
}

void TIdThreadMgrPool::DefaultOnQuiet() { platform::ReleaseFreeMemory(); }

std::unique_ptr<TIdPeerThread> TIdThreadMgrPool::AcquireThread() {
  std::unique_ptr<TIdPeerThread> thread;
  {
    platform::TLockGuard lock(FLock);
    if (!FIdle.empty()) {
      thread = std::move(FIdle.back());
      FIdle.pop_back();
    }
  }
  if (!thread) {
    thread = NewPeerThread();
    thread->StopMode = smSuspend;
    thread->OnStopped = [this](TIdThread& stopped) { TakeBack(static_cast<TIdPeerThread&>(stopped)); };
  }
  // Running, the thread owns itself: it frees itself should it end.
  thread->SetFreeOnTerminate(true);
  LiveThreads().Add(thread.get());
  return thread;
}

void TIdThreadMgrPool::RetireThread(TIdPeerThread& thread) {
  LiveThreads().Remove(&thread);
  platform::TLockGuard lock(FLock);
  ++FComingBack;
}

void TIdThreadMgrPool::TakeBack(TIdPeerThread& thread) {
  bool kept = false;
  {
    platform::TLockGuard lock(FLock);
    --FComingBack;
    if (FIdle.size() < PoolSize) {
      thread.SetFreeOnTerminate(false);
      FIdle.emplace_back(&thread);
      kept = true;
    }
    // Only the first quiet moment wakes the watcher: under load this runs thousands of times a
    // second.
    if (!FQuietSeen && IsQuiet()) {
      FQuietSeen = true;
      FQuietBegan.notify_one();
    }
    // Under the lock: once the count is seen at 0 the manager may be gone.
    FCameBack.notify_all();
  }
  // Taken by no one: it ends and frees itself, touching the manager no more.
  if (!kept) thread.RequestTerminate();
}

void TIdThreadMgrPool::TerminateThreads() {
  std::vector<std::unique_ptr<TIdPeerThread>> idle;
  {
    platform::TLockGuard lock(FLock);
    // Threads that have left the server finish their runs in a moment; none may be missed.
    FCameBack.wait(lock.Native(), [this]() REQUIRES(FLock) { return FComingBack == 0; });
    idle.swap(FIdle);
  }
  idle.clear();  // each ends and is waited for as it is freed
}

std::size_t TIdThreadMgrPool::IdleCount() const {
  platform::TLockGuard lock(FLock);
  return FIdle.size();
}

bool TIdThreadMgrPool::IsQuiet() { return FComingBack == 0 && LiveThreads().IsEmpty(); }

void TIdThreadMgrPool::WatchQuiet() {
  platform::TLockGuard lock(FLock);
  auto lastCall = std::chrono::steady_clock::now() - QuietTime;
  for (;;) {
    FQuietBegan.wait(lock.Native(), [this]() REQUIRES(FLock) { return FQuietSeen || FEnding; });
    // Quiet moments within QuietTime of the last call make one call at its end, if the server
    // is quiet then; else the next quiet moment is waited for.
    if (FQuietBegan.wait_until(lock.Native(), lastCall + QuietTime, [this]() REQUIRES(FLock) { return FEnding; }))
      return;
    FQuietSeen = false;
    if (!IsQuiet()) continue;
    lock.Unlock();
    FOnQuiet();
    lock.Lock();
    lastCall = std::chrono::steady_clock::now();
  }
}
