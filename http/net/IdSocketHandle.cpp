#include "http/net/IdSocketHandle.h"

#include "http/net/IdException.h"

namespace {

std::string RangeText(const char* format, int low, int high) {
  std::string text = format;
  text.replace(text.find("%d"), 2, std::to_string(low));
  text.replace(text.find("%d"), 2, std::to_string(high));
  return text;
}

}  // namespace

TIdSocketHandle::~TIdSocketHandle() { Reset(); }

int TIdSocketHandle::Family() const { return IPVersion == Id_IPv6 ? Id_PF_INET6 : Id_PF_INET; }

void TIdSocketHandle::AllocateHandle(int socketType, int protocol) {
  Reset(false);
  const TIdStackSocketHandle s = GStack()->NewSocketHandle(socketType, protocol, Family());
  {
    platform::TLockGuard lock(FLock);
    FHandle = s;
    FAllocated.store(true, std::memory_order_release);
  }
  if (IPVersion == Id_IPv6) {
    // Set either way: the system's default (net.ipv6.bindv6only) may be on.
    const std::int32_t off = 0;
    SetSockOpt(Id_IPPROTO_IPV6, Id_IPV6_V6ONLY, &off, sizeof off);
  }
}

void TIdSocketHandle::CloseSocketHandle() {
  platform::TLockGuard lock(FLock);
  if (!FAllocated.exchange(false)) return;
  // Both ways: a thread blocked in poll() or recv() on this socket wakes only on a shutdown,
  // never on a close() made by another thread.
  GStack()->SockShutdown(FHandle, Id_SD_Both);
}

void TIdSocketHandle::ShutdownSend() {
  platform::TLockGuard lock(FLock);
  // A failure means the peer has reset the connection: there is no sending side left to end.
  if (Allocated()) GStack()->SockShutdown(FHandle, Id_SD_Send);
}

void TIdSocketHandle::Reset(bool resetLocal) {
  {
    platform::TLockGuard lock(FLock);
    FAllocated.store(false, std::memory_order_release);
    if (FHandle != Id_INVALID_SOCKET) GStack()->SockClose(FHandle);
    FHandle = Id_INVALID_SOCKET;
  }
  FRemoteAddress.clear();
  FRemotePort = 0;
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
}

bool TIdSocketHandle::TryBind() {
  if (GStack()->CheckSocketResult(GStack()->SockBind(Handle(), Family(), IP, Port), {Id_WSAEADDRINUSE})) {
    return false;
  }
  RefreshLocal();
  return true;
}

void TIdSocketHandle::BindHandle() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBind()) throw EIdCouldNotBindSocket();
    return;
  }
  if (ClientPortMax < ClientPortMin) {
    throw EIdInvalidPortRange(RangeText("Invalid Port Range (%d - %d)", ClientPortMin, ClientPortMax));
  }
  for (int port = ClientPortMax; port >= ClientPortMin; --port) {
    Port = port;
    if (TryBind()) return;
  }
  throw EIdCanNotBindPortInRange(RangeText("Can not bind in port range (%d - %d)", ClientPortMin, ClientPortMax));
}

void TIdSocketHandle::ListenOn(int backlog) { GStack()->CheckSocketResult(GStack()->SockListen(Handle(), backlog)); }

bool TIdSocketHandle::AcceptFrom(TIdStackSocketHandle listeningSocket) {
  Reset();
  const TIdStackSocketHandle s = GStack()->SockAccept(listeningSocket, IP, Port);
  if (GStack()->CheckSocketResult(s, {Id_WSAEINTR, Id_WSAENOTSOCK})) return false;
  {
    platform::TLockGuard lock(FLock);
    FHandle = s;
    FAllocated.store(true, std::memory_order_release);
  }
  // accept gave the peer's address already; asking for it again would cost a call per client.
  FRemoteAddress = std::move(IP);
  FRemotePort = Port;
  RefreshLocal();
  return true;
}

bool TIdSocketHandle::WaitReadable(int ms) {
  if (!Allocated()) throw EIdConnClosedGracefully();
  return WaitOtherReadable(Handle(), ms);
}

bool TIdSocketHandle::WaitOtherReadable(TIdStackSocketHandle socket, int ms) {
  return GStack()->SockWaitReadable(socket, ms) == 1;
}

std::int64_t TIdSocketHandle::Recv(void* buffer, std::size_t length, bool wait) {
  return GStack()->SockRecv(Handle(), buffer, length, wait ? 0 : Id_MSG_NOWAIT);
}

std::int64_t TIdSocketHandle::Send(const void* buffer, std::size_t length) {
  return GStack()->SockSend(Handle(), buffer, length, 0);
}

void TIdSocketHandle::SetSockOpt(int level, int option, const void* value, int length) {
  GStack()->CheckSocketResult(GStack()->SockSetOption(Handle(), level, option, value, length));
}

void TIdSocketHandle::RefreshLocal() { GStack()->SocketName(Handle(), IP, Port); }

void TIdSocketHandle::RefreshPeer() { GStack()->PeerName(Handle(), FRemoteAddress, FRemotePort); }

TIdSocketHandle& TIdSocketHandles::Add() {
  FItems.push_back(std::make_unique<TIdSocketHandle>(DefaultPort));
  return *FItems.back();
}

void TIdSocketHandles::Remove(const TIdSocketHandle& handle) {
  std::erase_if(FItems, [&](const std::unique_ptr<TIdSocketHandle>& item) { return item.get() == &handle; });
}
