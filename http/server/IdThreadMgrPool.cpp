#include "http/server/IdThreadMgrPool.h"

#include "http/server/IdPeerThread.h"
#include "platform/Process.h"

TIdThreadMgrPool::TIdThreadMgrPool(std::size_t poolSize) : PoolSize(poolSize) {}

TIdThreadMgrPool::~TIdThreadMgrPool() { TerminateThreads(); }

std::unique_ptr<TIdPeerThread> TIdThreadMgrPool::AcquireThread() {
  std::unique_ptr<TIdPeerThread> thread;
  {
    std::lock_guard<std::mutex> lock(FLock);
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
  std::lock_guard<std::mutex> lock(FLock);
  ++FComingBack;
}

void TIdThreadMgrPool::TakeBack(TIdPeerThread& thread) {
  bool kept = false;
  bool quiet = false;
  {
    std::lock_guard<std::mutex> lock(FLock);
    --FComingBack;
    if (FIdle.size() < PoolSize) {
      thread.SetFreeOnTerminate(false);
      FIdle.emplace_back(&thread);
      kept = true;
    }
    quiet = FComingBack == 0 && LiveThreads().IsEmpty();
    // Under the lock: once the count is seen at 0 the manager may be gone.
    FCameBack.notify_all();
  }
  // Taken by no one: it ends and frees itself, touching the manager no more.
  if (!kept) thread.RequestTerminate();
  // The last connection has ended: what the burst before it allocated (listings, indexes, a
  // crowd's buffers) would otherwise stay with the process while it waits, maybe for hours.
  if (quiet) platform::ReleaseFreeMemory();
}

void TIdThreadMgrPool::TerminateThreads() {
  std::vector<std::unique_ptr<TIdPeerThread>> idle;
  {
    std::unique_lock<std::mutex> lock(FLock);
    // Threads that have left the server finish their runs in a moment; none may be missed.
    FCameBack.wait(lock, [this] { return FComingBack == 0; });
    idle.swap(FIdle);
  }
  idle.clear();  // each ends and is waited for as it is freed
}

std::size_t TIdThreadMgrPool::IdleCount() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FIdle.size();
}
