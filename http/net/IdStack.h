#pragma once
// The process-wide socket stack: every socket call of the engine goes through it, and a failed
// call becomes an EIdSocketError carrying the Windows sockets number of the failure.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;

// The engine speaks the Windows sockets constants; the concrete stack maps them.
constexpr int Id_PF_INET = 2;
constexpr int Id_PF_INET6 = 23;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_SOL_SOCKET = 0xFFFF;
constexpr int Id_SO_REUSEADDR = 4;
constexpr int Id_SO_SNDTIMEO = 0x1005;  // a 32-bit count of milliseconds, 0 = no limit
constexpr int Id_SO_LINGER = 0x0080;    // a TIdLinger
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;
constexpr int Id_IPPROTO_IPV6 = 41;
constexpr int Id_IPV6_V6ONLY = 27;  // a 32-bit flag: 0 lets an IPv6 socket take IPv4 clients too
constexpr int Id_SD_Send = 1;
constexpr int Id_SD_Both = 2;
constexpr int Id_TIMEOUT_INFINITE = -2;
// A receive flag of the engine's own, which the concrete stack maps: take only what has arrived,
// never wait (the call fails with 10035 when nothing has).
constexpr int Id_MSG_NOWAIT = 0x10000;
// Look at what has arrived without taking it from the socket.
constexpr int Id_MSG_PEEK = 0x2;

// Error numbers the engine tests by name.
constexpr int Id_WSAEINTR = 10004;
constexpr int Id_WSAEACCES = 10013;
constexpr int Id_WSAEMFILE = 10024;
constexpr int Id_WSAEWOULDBLOCK = 10035;
constexpr int Id_WSAENOTSOCK = 10038;
constexpr int Id_WSAEAFNOSUPPORT = 10047;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAEADDRNOTAVAIL = 10049;
constexpr int Id_WSAECONNABORTED = 10053;
constexpr int Id_WSAECONNRESET = 10054;
constexpr int Id_WSAENOBUFS = 10055;
constexpr int Id_WSAESHUTDOWN = 10058;
constexpr int Id_WSAETIMEDOUT = 10060;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;

/// The linger option as Windows sockets lay it out: on with 0 seconds makes the close a reset.
struct TIdLinger {
  std::uint16_t OnOff = 0;
  std::uint16_t Seconds = 0;
};

using TIdSocketList = std::vector<TIdStackSocketHandle>;

enum TIdIPVersion { Id_IPv4, Id_IPv6 };

/// The socket stack. One object is shared by every thread without a lock: its operations keep
/// no state between calls except the calling thread's last error. Addresses are text: IPv4
/// dotted, IPv6 in its shortest form (2001:db8::7); an IPv4 client of an IPv6 socket is named
/// dotted, never ::ffff:192.0.2.7. Ports are in host order. It exists while at least one
/// TIdComponent lives (GStack()).
class TIdStack {
public:
  virtual ~TIdStack() = default;

  virtual TIdStackSocketHandle SockCreate(int family, int type, int protocol) = 0;
  /// An empty address binds to every local address of the family.
  virtual int SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) = 0;
  virtual int SockListen(TIdStackSocketHandle s, int backlog) = 0;
  /// Returns the new socket or Id_INVALID_SOCKET; ip and port receive the peer's address.
  virtual TIdStackSocketHandle SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) = 0;
  /// Bytes received, 0 when the peer closed, -1 on error. flags: Id_MSG_NOWAIT, Id_MSG_PEEK or 0.
  virtual std::int64_t SockRecv(TIdStackSocketHandle s, void* buffer, std::size_t length, int flags) = 0;
  /// Bytes sent or -1; never raises SIGPIPE.
  virtual std::int64_t SockSend(TIdStackSocketHandle s, const void* buffer, std::size_t length, int flags) = 0;
  /// The platform's file transmit call: up to count bytes of the open file fileHandle from
  /// offset, which advances by the bytes sent. Returns them, 0 when the file ends at offset, -1
  /// on error (a peer that has gone gives 10054); never raises SIGPIPE.
  virtual std::int64_t SockSendFile(TIdStackSocketHandle s, int fileHandle, std::int64_t& offset,
                                    std::size_t count) = 0;
  /// Waits until a socket of a list is ready or timeoutMs passes (-2 = no limit, 0 = poll).
  /// Each given list is cut to its ready sockets. Returns the number ready, 0 on timeout,
  /// -1 on error. Throws EIdStackSetSizeExceeded for a list of more than 64 sockets.
  virtual int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                         int timeoutMs) = 0;
  /// Waits until s can be read (data, a close or an error count, as for SockSelect) or timeoutMs
  /// passes (-2 = no limit). Returns 1, 0 on timeout, -1 on error. Every idle connection's
  /// thread waits here: it keeps next to nothing on that thread's stack, where a select set
  /// would take a page of its own.
  virtual int SockWaitReadable(TIdStackSocketHandle s, int timeoutMs) = 0;
  /// Waits until s can take more bytes for sending (or has failed) or timeoutMs passes (-2 = no
  /// limit). Returns 1, 0 on timeout, -1 on error.
  virtual int SockWaitWritable(TIdStackSocketHandle s, int timeoutMs) = 0;
  /// Whether calls on s wait (blocking) or fail with 10035 when they cannot go on at once.
  virtual int SockSetBlocking(TIdStackSocketHandle s, bool blocking) = 0;
  /// While hold is set, sends that do not fill a whole segment wait in the socket until more
  /// bytes come, the hold is released or the socket is shut down, so that a response leaves in as
  /// few segments as possible (the shutdown's FIN rides on the last one). Only a hint: a stack
  /// without it sends at once.
  virtual void SockHoldPartialSends(TIdStackSocketHandle, bool /*hold*/) {}
  /// How many of the bytes the socket s took for sending the peer has not acknowledged yet: the
  /// socket takes more than its peer reads, so progress is told by what has reached the peer.
  /// -1 when the platform cannot tell.
  virtual std::int64_t SockUnacknowledged(TIdStackSocketHandle) { return -1; }
  virtual int SockShutdown(TIdStackSocketHandle s, int how) = 0;
  virtual int SockClose(TIdStackSocketHandle s) = 0;
  virtual int SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value, int length) = 0;
  virtual int SockGetOption(TIdStackSocketHandle s, int level, int option, void* value, int& length) = 0;
  /// Local and peer address of a socket; a failure throws EIdSocketError.
  virtual void SocketName(TIdStackSocketHandle s, std::string& ip, int& port) = 0;
  virtual void PeerName(TIdStackSocketHandle s, std::string& ip, int& port) = 0;
  /// The first IPv4 address of a host; a failed look-up throws EIdSocketError (11001).
  virtual std::string HostByName(const std::string& name) = 0;
  virtual std::string HostByAddress(const std::string& address) = 0;
  virtual std::string LocalHostName() = 0;
  /// Every IPv4 address of the interfaces that are up, in the order the system reports them; those
  /// of the local host name when there are none. Throws EIdSocketError (11001) when both are empty.
  virtual std::vector<std::string> LocalAddressList() = 0;
  std::string FirstLocalAddress();

  virtual std::uint16_t HostToNet16(std::uint16_t value) = 0;
  virtual std::uint16_t NetToHost16(std::uint16_t value) = 0;
  virtual std::uint32_t HostToNet32(std::uint32_t value) = 0;
  virtual std::uint32_t NetToHost32(std::uint32_t value) = 0;

  /// "Socket Error # <n>\r\n<text>"; the text is empty for a number without one.
  virtual std::string ErrorMessageFor(int errorNumber);
  /// The calling thread's last socket error, as a Windows sockets number.
  virtual int LastPlatformError() = 0;
  /// Records error as the calling thread's last socket error: a transport layered over a socket
  /// (TLS) reports its own failures the way a socket call would.
  virtual void SetLastPlatformError(int error) = 0;

  /// Four address bytes in network order as dotted text.
  static std::string AddressToText(const std::uint8_t (&address)[4]);
  /// Dotted text into four address bytes (each part a decimal number).
  static void TextToAddress(const std::string& text, std::uint8_t (&address)[4]);

  /// False when result is not -1. Otherwise records the calling thread's error in LastError()
  /// and returns true when it is one of accepted; any other error throws EIdSocketError.
  bool CheckSocketResult(std::int64_t result, std::initializer_list<int> accepted = {});
  /// Throws EIdSocketError with errorNumber and ErrorMessageFor(errorNumber).
  [[noreturn]] void RaiseSocketErrorFor(int errorNumber);
  /// A socket of the family; throws EIdInvalidSocket when none can be created.
  TIdStackSocketHandle NewSocketHandle(int type, int protocol, int family = Id_PF_INET);
  /// The version of a socket that is to listen on every local address: IPv6, whose socket takes
  /// IPv4 clients as well, where this machine can bind one; IPv4 where it has no IPv6 (the
  /// family is missing or switched off). Asks the system afresh at every call.
  TIdIPVersion AnyAddressVersion();
  /// "localhost" in any case is 127.0.0.1, a dotted quad stays, anything else is looked up.
  std::string ResolveHostName(const std::string& host);
  /// Four "."-separated decimal numbers, each 0 to 255.
  static bool IsDottedQuad(const std::string& text);
  std::uint32_t ParseDottedQuad(const std::string& text);
  /// The error CheckSocketResult last captured on the calling thread.
  int LastError() const;
};

/// A new stack of this platform's sockets; made by the platform's own stack unit.
std::unique_ptr<TIdStack> NewPlatformStack();

/// The stack object; exists while a TIdComponent lives. Any thread.
TIdStack* GStack();

/// Counted use of the stack object: the first use creates it, the last one frees it.
/// TIdComponent does this in its constructor and destructor. Any thread.
void IdStackAddUse();
void IdStackReleaseUse();
