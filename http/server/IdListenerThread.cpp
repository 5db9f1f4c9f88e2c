#include "http/server/IdListenerThread.h"

#include "http/io/IdIOHandlerSocket.h"
#include "http/net/IdException.h"
#include "http/net/IdSocketHandle.h"
#include "http/server/IdThreadHost.h"

#include <chrono>
#include <thread>

namespace {

// Whether an accept failed for want of descriptors or memory, which only time can mend.
bool IsOutOfResources(const std::exception& error) {
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&error);
  return socketError != nullptr &&
         (socketError->LastError == Id_WSAEMFILE || socketError->LastError == Id_WSAENOBUFS);
}

}  // namespace

TIdListenerThread::~TIdListenerThread() {
  if (!IsCurrentThread()) TerminateAndWaitFor();
}

void TIdListenerThread::RunStep() {
  try {
    std::unique_ptr<TIdIOHandlerSocket> handler = FServer.AcceptClient(FBinding.Handle(), *this);
    if (!handler) {
      StopThread();
      return;
    }
    FServer.AdmitClient(std::move(handler));
  } catch (const std::exception& error) {
    FServer.DoListenException(*this, error);
    if (IsOutOfResources(error)) std::this_thread::sleep_for(std::chrono::milliseconds(OutOfResourcesPauseMs));
  }
}

void TIdListenerThread::FinishRun() {
  TIdThread::FinishRun();
  FBinding.CloseSocketHandle();
  FBinding.Reset(false);
}
