#include "http/server/IdThread.h"

#include "http/net/IdException.h"
#include "platform/ScopeGuard.h"

#include <signal.h>

#include <system_error>

namespace {

// The object whose thread function runs on this thread, so that a thread knows itself without
// reading what its creator writes after starting it.
thread_local const TIdThread* tRunningThread = nullptr;

}  // namespace

TIdThread::~TIdThread() {
  FFreeOnTerminate = false;
  if (IsCurrentThread()) {
    platform::TLockGuard lock(FLock);
    if (FJoinable) pthread_detach(FThread);
    FJoinable = false;
  } else {
    RequestTerminate();
    WaitFor();
  }
}

void TIdThread::StartThread() {
  platform::TLockGuard lock(FLock);
  if (!FStopped) return;
  FStopped = false;
  if (FJoinable) {
    FStarted.notify_all();  // a suspended thread begins its next run
    return;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, StackSize);
  const int error = pthread_create(&FThread, &attributes, &TIdThread::ThreadFunction, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    FStopped = true;
    throw std::system_error(error, std::generic_category(), "pthread_create");
  }
  FJoinable = true;
}

void TIdThread::StopThread() {
  platform::TLockGuard lock(FLock);
  if (FStopped) return;
  FStopped = true;
  if (StopMode == smTerminate) FTerminated = true;
}

void TIdThread::RequestTerminate() {
  {
    platform::TLockGuard lock(FLock);
    FStopped = true;
    FTerminated = true;
  }
  FStarted.notify_all();
}

void TIdThread::TerminateAndWaitFor() {
  if (FreeOnTerminate()) throw EIdThreadTerminateAndWaitFor();
  RequestTerminate();
  WaitFor();
}

void TIdThread::WaitFor() {
  if (IsCurrentThread()) return;
  pthread_t thread;
  {
    // Not held while joining: the thread takes the lock once more on its way out.
    platform::TLockGuard lock(FLock);
    if (!FJoinable) return;
    thread = FThread;
  }
  pthread_join(thread, nullptr);
  platform::TLockGuard lock(FLock);
  FJoinable = false;
}

bool TIdThread::IsCurrentThread() const { return tRunningThread == this; }

void TIdThread::NotifyException(const std::exception& error) {
  if (OnException) OnException(*this, error);
}

void TIdThread::NotifyStopped() {
  if (OnStopped) OnStopped(*this);
}

void* TIdThread::ThreadFunction(void* self) {
  static_cast<TIdThread*>(self)->ThreadEntry();
  return nullptr;
}

void TIdThread::ThreadEntry() {
  // A peer that has gone shows as an error of the call that wrote to it, also for the calls
  // that cannot be told not to raise SIGPIPE (sendfile); threads started here inherit this.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  tRunningThread = this;
  try {
    Execute();
  } catch (...) {
    // A failing exception handler of our own must not end the process either.
    RequestTerminate();
  }
  bool freeSelf = false;
  {
    // StartThread may still be finishing (it holds the lock until FThread and FJoinable are
    // set). Waiting here, not before the body, spares each connection a sleep and a wake-up:
    // by now the creator has long let go.
    platform::TLockGuard lock(FLock);
    if (FFreeOnTerminate) {
      // Nobody joins a thread that frees itself.
      pthread_detach(FThread);
      FJoinable = false;
      freeSelf = true;
    }
  }
  if (freeSelf) delete this;
}

void TIdThread::Execute() {
  try {
    platform::TAtScopeEnd finish([this] { FinishExecute(); });
    PrepareExecute();
    while (!Terminated()) {
      if (IsStopped()) {
        NotifyStopped();
        if (!WaitUntilStarted()) break;
      }
      RunOnceInMode();
    }
  } catch (...) {
    NotifyCurrentException();
    RequestTerminate();
  }
}

bool TIdThread::WaitUntilStarted() {
  if (!IsStopped()) return true;  // started again by NotifyStopped
  if (StopMode == smTerminate) return false;
  platform::TLockGuard lock(FLock);
  FStarted.wait(lock.Native(), [this] { return !FStopped || FTerminated; });
  return !FTerminated;
}

void TIdThread::RunOnceInMode() {
  if (StopMode == smTerminate) {
    RunOnce();
    return;
  }
  try {
    RunOnce();
  } catch (...) {
    // The run is over (its clean-up ran); the thread itself is kept for the next one.
    NotifyCurrentException();
    StopThread();
  }
}

void TIdThread::NotifyCurrentException() {
  try {
    throw;
  } catch (const EIdException& error) {
    RecordError(error.ClassName(), error.what());
    NotifyException(error);
  } catch (const std::exception& error) {
    RecordError("Exception", error.what());
    NotifyException(error);
  } catch (...) {
    RecordError("Exception", "");
  }
}

// One run: PrepareRun, the steps, then FinishRun and CleanupRun whatever happened, so that a
// thread that failed to start its run still leaves every list it is in.
void TIdThread::RunOnce() {
  platform::TAtScopeEnd cleanup([this] { CleanupRun(); });
  platform::TAtScopeEnd finish([this] { FinishRun(); });
  PrepareRun();
  while (!IsStopped()) RunStep();
}

void TIdThread::RecordError(const char* className, const char* message) {
  FTerminatingErrorClass = className;
  FTerminatingErrorMessage = message;
}
