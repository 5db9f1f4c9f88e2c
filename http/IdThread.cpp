#include "http/IdThread.h"

#include "http/IdException.h"

TIdThread::~TIdThread() {
  FFreeOnTerminate = false;
  if (IsCurrentThread()) {
    FThread.detach();
  } else if (FThread.joinable()) {
    RequestTerminate();
    FThread.join();
  }
}

void TIdThread::StartThread() {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FStopped) return;
  FStopped = false;
  if (!FThread.joinable()) FThread = std::thread(&TIdThread::ThreadEntry, this);
}

void TIdThread::StopThread() {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FStopped) RequestTerminate();
}

void TIdThread::RequestTerminate() {
  FStopped = true;
  FTerminated = true;
}

void TIdThread::TerminateAndWaitFor() {
  if (FreeOnTerminate()) throw EIdThreadTerminateAndWaitFor();
  RequestTerminate();
  WaitFor();
}

void TIdThread::WaitFor() {
  if (FThread.joinable() && !IsCurrentThread()) FThread.join();
}

bool TIdThread::IsCurrentThread() const { return FThread.get_id() == std::this_thread::get_id(); }

void TIdThread::NotifyException(const std::exception& error) {
  if (OnException) OnException(*this, error);
}

void TIdThread::NotifyStopped() {
  if (OnStopped) OnStopped(*this);
}

void TIdThread::ThreadEntry() {
  {
    // StartThread holds the lock until FThread is assigned; the body must not see it earlier.
    std::lock_guard<std::mutex> lock(FLock);
  }
  try {
    Execute();
  } catch (...) {
    // A failing exception handler of our own must not end the process either.
    RequestTerminate();
  }
  if (FFreeOnTerminate) delete this;
}

void TIdThread::Execute() {
  try {
    try {
      PrepareExecute();
      while (!Terminated()) {
        if (IsStopped()) {
          NotifyStopped();
          if (IsStopped()) break;  // there is no suspended stop: a stopped thread ends
        }
        RunOnce();
      }
    } catch (...) {
      FinishExecute();
      throw;
    }
    FinishExecute();
  } catch (const EIdException& error) {
    RecordTerminatingError(error.ClassName(), error.what());
    NotifyException(error);
  } catch (const std::exception& error) {
    RecordTerminatingError("Exception", error.what());
    NotifyException(error);
  } catch (...) {
    RecordTerminatingError("Exception", "");
  }
}

// One run: PrepareRun, the steps, then FinishRun and CleanupRun whatever happened, so that a
// thread that failed to start its run still leaves every list it is in.
void TIdThread::RunOnce() {
  try {
    try {
      PrepareRun();
      while (!IsStopped()) RunStep();
    } catch (...) {
      FinishRun();
      throw;
    }
    FinishRun();
  } catch (...) {
    CleanupRun();
    throw;
  }
  CleanupRun();
}

void TIdThread::RecordTerminatingError(const char* className, const char* message) {
  FTerminatingErrorClass = className;
  FTerminatingErrorMessage = message;
  RequestTerminate();
}
