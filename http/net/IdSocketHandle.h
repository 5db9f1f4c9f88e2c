#pragma once
// One platform socket with the addresses of both ends; the server's bindings are a collection
// of them.

#include "http/net/IdStack.h"
#include "platform/Lock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One socket and its addresses. The thread that uses the socket owns the handle; another
/// thread may only call CloseSocketHandle(), which shuts the socket down in both directions
/// (waking a thread that waits on it) but leaves the descriptor open. The descriptor itself is
/// closed by Reset(), AllocateHandle() or the destructor, on the owning thread, so its number
/// cannot be handed to a new socket while the owner may still use it. Uses the socket stack, so a
/// TIdComponent must live while a handle holds a socket.
class TIdSocketHandle {
public:
  TIdSocketHandle() = default;
  explicit TIdSocketHandle(int port) : Port(port) {}
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  /// Closes any open descriptor and creates a new socket of IPVersion; an IPv6 socket takes IPv4
  /// clients as well, whatever the system's default. Throws EIdInvalidSocket, EIdSocketError.
  void AllocateHandle(int socketType = Id_SOCK_STREAM, int protocol = 0) EXCLUDES(FLock);
  /// Marks the socket closed and shuts it down both ways; nothing the second time. Any thread.
  void CloseSocketHandle() EXCLUDES(FLock);
  /// No more sending: the peer reads the end of the stream after what was sent, while this end
  /// can still receive. Nothing when no socket is allocated or the peer has gone. Owning thread.
  void ShutdownSend() EXCLUDES(FLock);
  /// Closes the descriptor; clears the remote address, and IP and Port when resetLocal is set.
  void Reset(bool resetLocal = true) EXCLUDES(FLock);
  /// Binds to IP and Port (or the first free port of the client port range, from the top).
  /// Throws EIdCouldNotBindSocket when the address is in use, EIdInvalidPortRange,
  /// EIdCanNotBindPortInRange, EIdSocketError for other failures.
  void BindHandle();
  /// Throws EIdSocketError.
  void ListenOn(int backlog);
  /// Accepts a client of the listening socket into this handle. False when the listening
  /// socket was closed (10004, 10038); other failures throw EIdSocketError.
  bool AcceptFrom(TIdStackSocketHandle listeningSocket) EXCLUDES(FLock);
  /// Whether data (or a close) can be read within ms (-2 = no limit); a failed wait counts as
  /// not readable. Throws EIdConnClosedGracefully when no socket is allocated.
  bool WaitReadable(int ms);
  /// The same on another socket, without the allocation check.
  static bool WaitOtherReadable(TIdStackSocketHandle socket, int ms);
  /// Bytes received, 0 when the peer closed, -1 on error. Without wait, only what has arrived:
  /// -1 with 10035 when nothing has.
  std::int64_t Recv(void* buffer, std::size_t length, bool wait = true);
  std::int64_t Send(const void* buffer, std::size_t length);
  /// Throws EIdSocketError.
  void SetSockOpt(int level, int option, const void* value, int length);
  /// Fill IP/Port and RemoteAddress/RemotePort from the platform. Throw EIdSocketError.
  void RefreshLocal();
  void RefreshPeer();

  bool Allocated() const { return FAllocated.load(std::memory_order_acquire); }
  /// The descriptor; Id_INVALID_SOCKET when none. Owning thread only: it alone changes it, so
  /// its own reads need no lock.
  TIdStackSocketHandle Handle() const NO_THREAD_SAFETY_ANALYSIS { return FHandle; }
  const std::string& RemoteAddress() const { return FRemoteAddress; }
  int RemotePort() const { return FRemotePort; }

  std::string IP;  // local address; empty = every local address when binding
  TIdIPVersion IPVersion = Id_IPv4;
  int Port = 0;    // local port; 0 = any
  int ClientPortMin = 0;
  int ClientPortMax = 0;

private:
  bool TryBind();
  int Family() const;

  platform::TLock FLock;  // also held by the shutdown from another thread
  TIdStackSocketHandle FHandle GUARDED_BY(FLock) = Id_INVALID_SOCKET;  // changed by the owning thread
  std::atomic<bool> FAllocated{false};
  std::string FRemoteAddress;
  int FRemotePort = 0;
};

/// The server's bindings: handles in order, new ones starting at DefaultPort.
class TIdSocketHandles {
public:
  TIdSocketHandle& Add();
  void Remove(const TIdSocketHandle& handle);
  std::size_t Count() const { return FItems.size(); }
  TIdSocketHandle& operator[](std::size_t index) { return *FItems[index]; }

  int DefaultPort = 0;

private:
  std::vector<std::unique_ptr<TIdSocketHandle>> FItems;
};
