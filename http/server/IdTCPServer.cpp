#include "http/server/IdTCPServer.h"

#include "http/net/IdException.h"
#include "http/net/IdIPAddress.h"
#include "http/io/IdIOHandlerSocket.h"
#include "http/server/IdListenerThread.h"
#include "http/server/IdPeerThread.h"
#include "http/server/IdServerIOHandlerSocket.h"
#include "http/server/IdThreadMgrDefault.h"
#include "platform/ScopeGuard.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
constexpr int kStopCheckMs = 250;
}

TIdTCPServer::TIdTCPServer() {
  PeerThreadClass = [] { return std::make_unique<TIdPeerThread>(); };
}

TIdTCPServer::~TIdTCPServer() {
  try {
    SetActive(false);
  } catch (...) {
    // Threads that outlived TerminateWaitTime still run in this object: it cannot go first.
    do {
      CloseConnections();
    } while (!WaitForPeerThreads(1));
  }
}

void TIdTCPServer::SetThreadMgr(TIdThreadMgr* manager) {
  FImplicitThreadMgr.reset();
  FThreadMgr = manager;
}

void TIdTCPServer::SetIOHandler(TIdServerIOHandler* handler) {
  FImplicitIOHandler.reset();
  FIOHandler = handler;
}

void TIdTCPServer::SetActive(bool value) {
  if (value == FActive) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void TIdTCPServer::Activate() {
  // Listeners of bindings that did bind are stopped too: nothing runs while Active is false.
  platform::TOnScopeFailure undo([this] {
    StopListeners();
    RemoveDefaultBinding();
  });
  if (!FCommandHandlersInitialized) {
    FCommandHandlersInitialized = true;
    InitCommandHandlers();
  }
  if (FBindings.Count() == 0) {
    FDefaultBinding = &FBindings.Add();
    FDefaultBinding->IPVersion = GStack()->AnyAddressVersion();
  }
  if (FThreadMgr == nullptr) {
    FImplicitThreadMgr = std::make_unique<TIdThreadMgrDefault>();
    FThreadMgr = FImplicitThreadMgr.get();
  }
  FThreadMgr->PeerThreadClass = PeerThreadClass;
  if (FIOHandler == nullptr) {
    FImplicitIOHandler = std::make_unique<TIdServerIOHandlerSocket>();
    FIOHandler = FImplicitIOHandler.get();
  }
  FIOHandler->Init();
  for (std::size_t i = 0; i < FBindings.Count(); ++i) {
    TIdSocketHandle& binding = FBindings[i];
    binding.AllocateHandle(Id_SOCK_STREAM, 0);
    // Linux keeps the port of every connection the server closed in TIME_WAIT for a minute;
    // without the reuse option a stop and a start on the same port would fail that long. On
    // Linux the option never lets a listener take a port that another one holds, so the
    // system's default behaves as Windows does without it.
    if (ReuseSocket != rsFalse) {
      const std::int32_t on = 1;
      binding.SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, &on, sizeof on);
    }
    binding.BindHandle();
    binding.ListenOn(ListenQueue);
    platform::TLockGuard lock(FListenersLock);
    FListeners.push_back(std::make_unique<TIdListenerThread>(*this, binding));
    FListeners.back()->StartThread();
  }
  FActive = true;
}

void TIdTCPServer::Deactivate() {
  StopListeners();
  CloseConnections();
  const bool ended = WaitForPeerThreads(TerminateWaitTime / kStopCheckMs);
  if (ended) FThreadMgr->TerminateThreads();
  if (FImplicitThreadMgr && FPeerThreads.IsEmpty()) {
    FImplicitThreadMgr.reset();
    FThreadMgr = nullptr;
  }
  if (!ended) throw EIdTerminateThreadTimeout();
  RemoveDefaultBinding();
  FActive = false;
}

void TIdTCPServer::StopListeners() {
  std::vector<std::unique_ptr<TIdListenerThread>> listeners;
  {
    // Taken off the list first: no lock is held while waiting for a thread.
    platform::TLockGuard lock(FListenersLock);
    listeners.swap(FListeners);
  }
  for (std::unique_ptr<TIdListenerThread>& listener : listeners) {
    listener->RequestTerminate();
    listener->Binding().CloseSocketHandle();  // wakes a listener blocked in accept
    listener->WaitFor();
  }
}

void TIdTCPServer::CloseConnections() {
  FPeerThreads.ForEach([](TIdPeerThread& thread) {
    if (thread.Connection() != nullptr) thread.Connection()->CloseSocketOnly();
  });
}

bool TIdTCPServer::WaitForPeerThreads(int checks) {
  for (int i = 0; i < checks; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
    if (FPeerThreads.IsEmpty()) return true;
  }
  return false;
}

void TIdTCPServer::RemoveDefaultBinding() {
  if (FDefaultBinding == nullptr) return;
  FBindings.Remove(*FDefaultBinding);
  FDefaultBinding = nullptr;
}

std::unique_ptr<TIdIOHandlerSocket> TIdTCPServer::AcceptClient(TIdStackSocketHandle listeningSocket,
                                                             TIdThread& listener) {
  return FIOHandler->AcceptClient(listeningSocket, &listener);
}

void TIdTCPServer::AdmitClient(std::unique_ptr<TIdIOHandlerSocket> handler) {
  std::string address = handler->Endpoint()->RemoteAddress();
  auto connection = std::make_unique<TIdTCPServerConnection>(this, address);
  connection->SetIOHandler(std::move(handler));
  if (!TakeConnectionSlot(address)) {
    // Turned away at once, so that one client's many connections never keep out another's.
    connection->WriteReply(MaxConnectionReply);
    connection->CloseConnection();
    return;
  }
  platform::TOnScopeFailure releaseSlot([&] {
    const std::string key = ClientAddressKey(address);
    platform::TLockGuard lock(FSlotsLock);
    ReleaseSlotOf(key);
  });
  StartPeerThread(std::move(connection));
}

void TIdTCPServer::StartPeerThread(std::unique_ptr<TIdTCPServerConnection> connection) {
  std::unique_ptr<TIdPeerThread> peer = FThreadMgr->AcquireThread();
  peer->SetConnection(std::move(connection));
  FPeerThreads.Add(peer.get());
  platform::TOnScopeFailure unlist([&] {
    FPeerThreads.Remove(peer.get());
    FThreadMgr->LiveThreads().Remove(peer.get());
  });
  peer->StartThread();
  peer.release();  // the started thread frees itself
}

bool TIdTCPServer::TakeConnectionSlot(const std::string& address) {
  const std::string key = ClientAddressKey(address);
  platform::TLockGuard lock(FSlotsLock);
  const auto found = FSlotsByAddress.find(key);
  const int fromAddress = found != FSlotsByAddress.end() ? found->second : 0;
  if (MaxConnectionsPerAddress > 0 && fromAddress >= MaxConnectionsPerAddress && !ReclaimIdleConnection(&key))
    return false;
  if (MaxConnections > 0 && FSlotCount >= MaxConnections && !ReclaimIdleConnection(nullptr)) return false;
  ++FSlotsByAddress[key];
  ++FSlotCount;
  return true;
}

void TIdTCPServer::ReleaseConnectionSlot(TIdPeerThread& thread) {
  const std::string key = ClientAddressKey(thread.Connection()->ClientAddress());
  platform::TLockGuard lock(FSlotsLock);
  std::erase(FIdle, &thread);
  if (FReclaimed.erase(&thread) == 0) ReleaseSlotOf(key);
}

void TIdTCPServer::ReleaseSlotOf(const std::string& key) {
  --FSlotCount;
  const auto found = FSlotsByAddress.find(key);
  if (found != FSlotsByAddress.end() && --found->second == 0) FSlotsByAddress.erase(found);
}

bool TIdTCPServer::ReclaimIdleConnection(const std::string* key) {
  const auto idle = std::find_if(FIdle.begin(), FIdle.end(), [key](TIdPeerThread* thread) {
    return key == nullptr || ClientAddressKey(thread->Connection()->ClientAddress()) == *key;
  });
  if (idle == FIdle.end()) return false;
  TIdPeerThread* thread = *idle;
  FIdle.erase(idle);
  FReclaimed.insert(thread);
  ReleaseSlotOf(ClientAddressKey(thread->Connection()->ClientAddress()));
  // Still under the slots lock: the thread cannot leave its wait, and so cannot end, before
  // the close. The connection's own lock is taken inside it and never the other way round.
  thread->Connection()->CloseSocketOnly();
  return true;
}

std::size_t TIdTCPServer::IdleConnectionCount() const {
  platform::TLockGuard lock(FSlotsLock);
  return FIdle.size();
}

void TIdTCPServer::EnterIdle(TIdPeerThread& thread) {
  platform::TLockGuard lock(FSlotsLock);
  FIdle.push_back(&thread);
}

bool TIdTCPServer::LeaveIdle(TIdPeerThread& thread) {
  platform::TLockGuard lock(FSlotsLock);
  return std::erase(FIdle, &thread) > 0 || !FReclaimed.contains(&thread);
}

void TIdTCPServer::RetireThread(TIdPeerThread& thread) {
  // Retired and counted out before leaving FPeerThreads: while the thread is listed, the server
  // and an implicitly created thread manager stay alive.
  FThreadMgr->RetireThread(thread);
  ReleaseConnectionSlot(thread);
  FPeerThreads.Remove(&thread);
}

void TIdTCPServer::HandleConnect(TIdPeerThread& thread) {
  thread.Connection()->WriteReply(Greeting);
  if (OnConnect) OnConnect(thread);
}

bool TIdTCPServer::HandleExecute(TIdPeerThread& thread) {
  if (!OnExecute) return false;
  OnExecute(thread);
  return true;
}

void TIdTCPServer::HandleDisconnect(TIdPeerThread& thread) {
  if (OnDisconnect) OnDisconnect(thread);
}

void TIdTCPServer::DoException(TIdPeerThread& thread, const std::exception& error) {
  if (OnException) OnException(thread, error);
}

void TIdTCPServer::DoListenException(TIdListenerThread& thread, const std::exception& error) {
  if (OnListenException) OnListenException(thread, error);
}
