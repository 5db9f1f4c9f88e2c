#pragma once
// The thread framework of the server: a thread that repeats a step until it is stopped, with
// overridable steps around the run, and threads that free themselves when they end.

#include "platform/Lock.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <string>

/// What StopThread does: end the thread (smTerminate), or end the current run and wait until
/// StartThread begins the next one (smSuspend), so that the thread can be used again.
enum TIdThreadStopMode { smTerminate, smSuspend };

/// A thread running RunStep() again and again until it is stopped. Created suspended: nothing
/// runs before StartThread(). A thread with FreeOnTerminate set is detached and deletes its own
/// object as its last act; any other thread object is freed by whoever waited for it.
/// StartThread, StopThread, IsStopped, RequestTerminate: any thread.
class TIdThread {
public:
  /// The stack every thread gets. The deepest path a connection thread takes is the index
  /// walk, one frame of about 300 bytes per folder level in an optimised build; a full path (at
  /// most 4095 bytes) holds at most about 2000 levels. Far below the C library's 8 MiB default,
  /// so that the stacks of finished threads stay in its cache for the next connections and are
  /// not mapped and unmapped for each one. Unoptimised and sanitizer builds have much larger
  /// frames and keep the default.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  static constexpr std::size_t StackSize = 1u << 20;
#else
  static constexpr std::size_t StackSize = 8u << 20;
#endif

  TIdThread() = default;
  /// Stops and waits for a thread still running (unless it is the calling thread itself).
  /// A derived class whose steps could still run stops the thread in its own destructor.
  virtual ~TIdThread();
  TIdThread(const TIdThread&) = delete;
  TIdThread& operator=(const TIdThread&) = delete;

  /// Starts a stopped thread, or lets a suspended one begin its next run. Throws
  /// std::system_error when the platform cannot create the thread.
  void StartThread() EXCLUDES(FLock);
  /// Asks the thread to end its run after the current step; see StopMode.
  void StopThread() EXCLUDES(FLock);
  bool IsStopped() const { return FStopped.load() || FTerminated.load(); }
  void RequestTerminate() EXCLUDES(FLock);
  bool Terminated() const { return FTerminated.load(); }
  /// Terminates and waits for the end. Throws EIdThreadTerminateAndWaitFor for a thread that
  /// frees itself.
  void TerminateAndWaitFor();
  /// Waits until the thread function has returned; at once when it never started.
  void WaitFor() EXCLUDES(FLock);
  /// Whether the calling thread is this thread.
  bool IsCurrentThread() const;
  void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }
  bool FreeOnTerminate() const { return FFreeOnTerminate.load(); }

  /// Class and message of the exception that ended the thread body, if any. Read after WaitFor().
  const std::string& TerminatingErrorClass() const { return FTerminatingErrorClass; }
  const std::string& TerminatingErrorMessage() const { return FTerminatingErrorMessage; }

  /// Set before the thread starts. A thread in smSuspend mode also survives an exception of its
  /// run: the exception is recorded and notified, and the thread waits for its next start.
  TIdThreadStopMode StopMode = smTerminate;

  std::function<void(TIdThread&, const std::exception&)> OnException;
  /// Fired on the thread itself when a run has ended and the thread is stopped but not ended.
  std::function<void(TIdThread&)> OnStopped;

protected:
  virtual void PrepareExecute() {}
  virtual void FinishExecute() {}
  virtual void PrepareRun() {}
  virtual void RunStep() = 0;
  virtual void FinishRun() {}
  virtual void CleanupRun() {}
  virtual void NotifyException(const std::exception& error);
  virtual void NotifyStopped();

private:
  static void* ThreadFunction(void* self);
  void ThreadEntry();
  void Execute();
  // One run; in smSuspend mode its exception is recorded and notified instead of passed on.
  void RunOnceInMode();
  void RunOnce();
  // Whether the thread goes on after its run stopped: a suspended thread waits for its next
  // start; false once it is terminated, and always in smTerminate mode.
  bool WaitUntilStarted() EXCLUDES(FLock);
  void RecordError(const char* className, const char* message);
  // Records and notifies the exception in flight.
  void NotifyCurrentException();

  // Starts and stops one at a time; the flags change only with it held, and are read without.
  platform::TLock FLock;
  std::condition_variable FStarted;    // a start or a termination, for a suspended thread
  pthread_t FThread GUARDED_BY(FLock) = {};  // launched by the first StartThread
  bool FJoinable GUARDED_BY(FLock) = false;  // launched and neither joined nor detached
  std::atomic<bool> FStopped{true};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFreeOnTerminate{false};
  std::string FTerminatingErrorClass;  // written by the thread itself
  std::string FTerminatingErrorMessage;
};
