#pragma once
// The socket stack on POSIX sockets, IPv4 and IPv6.

#include "http/net/IdStack.h"

/// POSIX sockets behind the stack's operations. Native error numbers are translated into the
/// Windows sockets numbers as soon as a call fails, and kept per thread.
class TIdStackLinux : public TIdStack {
public:
  TIdStackSocketHandle SockCreate(int family, int type, int protocol) override;
  int SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) override;
  int SockListen(TIdStackSocketHandle s, int backlog) override;
  TIdStackSocketHandle SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) override;
  std::int64_t SockRecv(TIdStackSocketHandle s, void* buffer, std::size_t length, int flags) override;
  std::int64_t SockSend(TIdStackSocketHandle s, const void* buffer, std::size_t length, int flags) override;
  std::int64_t SockSendFile(TIdStackSocketHandle s, int fileHandle, std::int64_t& offset,
                            std::size_t count) override;
  int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                 int timeoutMs) override;
  int SockWaitReadable(TIdStackSocketHandle s, int timeoutMs) override;
  int SockWaitWritable(TIdStackSocketHandle s, int timeoutMs) override;
  int SockSetBlocking(TIdStackSocketHandle s, bool blocking) override;
  std::int64_t SockUnacknowledged(TIdStackSocketHandle s) override;
  int SockShutdown(TIdStackSocketHandle s, int how) override;
  int SockClose(TIdStackSocketHandle s) override;
  void SockHoldPartialSends(TIdStackSocketHandle s, bool hold) override;
  int SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value, int length) override;
  int SockGetOption(TIdStackSocketHandle s, int level, int option, void* value, int& length) override;
  void SocketName(TIdStackSocketHandle s, std::string& ip, int& port) override;
  void PeerName(TIdStackSocketHandle s, std::string& ip, int& port) override;
  std::string HostByName(const std::string& name) override;
  std::string HostByAddress(const std::string& address) override;
  std::string LocalHostName() override;
  std::vector<std::string> LocalAddressList() override;
  std::uint16_t HostToNet16(std::uint16_t value) override;
  std::uint16_t NetToHost16(std::uint16_t value) override;
  std::uint32_t HostToNet32(std::uint32_t value) override;
  std::uint32_t NetToHost32(std::uint32_t value) override;
  int LastPlatformError() override;
  void SetLastPlatformError(int error) override;

  /// The Windows sockets number for a native errno value (the value itself when unmapped).
  static int TranslateErrno(int nativeError);
};
