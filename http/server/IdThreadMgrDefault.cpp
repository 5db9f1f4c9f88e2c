#include "http/server/IdThreadMgrDefault.h"

#include "http/server/IdPeerThread.h"

std::unique_ptr<TIdPeerThread> TIdThreadMgrDefault::AcquireThread() {
  std::unique_ptr<TIdPeerThread> thread = NewPeerThread();
  LiveThreads().Add(thread.get());
  return thread;
}

void TIdThreadMgrDefault::RetireThread(TIdPeerThread& thread) {
  LiveThreads().Remove(&thread);
  if (thread.IsCurrentThread()) {
    thread.SetFreeOnTerminate(true);
    thread.RequestTerminate();
  } else {
    thread.TerminateAndWaitFor();
    delete &thread;
  }
}
