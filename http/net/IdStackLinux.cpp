#include "http/net/IdStackLinux.h"

#include "http/net/IdException.h"
#include "platform/InterfaceAddresses.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The failing call's translated error, captured before anything else can change errno.
thread_local int tPlatformError = 0;

template <typename T>
T Checked(T result) {
  if (result == -1) tPlatformError = TIdStackLinux::TranslateErrno(errno);
  return result;
}

struct TErrnoMap {
  int Native;
  int Windows;
};

const TErrnoMap kErrnoMap[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},          {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},          {EAGAIN, 10035},          {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},        {ENETUNREACH, 10051},
    {ENETRESET, 10052},    {ECONNABORTED, 10053},    {ECONNRESET, 10054},      {EPIPE, 10054},
    {ENOBUFS, 10055},      {ENOMEM, 10055},          {ENFILE, 10024},      {EISCONN, 10056},         {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},    {ELOOP, 10062},
    {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
};

constexpr std::size_t kMaxSelectSet = 64;

// The engine's Windows option numbers onto the native ones.
bool NativeOption(int level, int option, int& nativeLevel, int& nativeOption) {
  if (level == Id_SOL_SOCKET && option == Id_SO_REUSEADDR) {
    nativeLevel = SOL_SOCKET;
    nativeOption = SO_REUSEADDR;
    return true;
  }
  if (level == Id_IPPROTO_TCP && option == Id_TCP_NODELAY) {
    nativeLevel = IPPROTO_TCP;
    nativeOption = TCP_NODELAY;
    return true;
  }
  if (level == Id_IPPROTO_IPV6 && option == Id_IPV6_V6ONLY) {
    nativeLevel = IPPROTO_IPV6;
    nativeOption = IPV6_V6ONLY;
    return true;
  }
  return false;
}

int NativeFamily(int family) { return family == Id_PF_INET6 ? AF_INET6 : family; }

std::string DottedText(const in_addr& address) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &address.s_addr, 4);
  return TIdStack::AddressToText(bytes);
}

// An IPv4 client of an IPv6 socket arrives as ::ffff:a.b.c.d; it is named by its IPv4 address.
void SplitAddress(const sockaddr_storage& address, std::string& ip, int& port) {
  if (address.ss_family == AF_INET6) {
    const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
    port = ntohs(ipv6.sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&ipv6.sin6_addr)) {
      in_addr ipv4;
      std::memcpy(&ipv4, &ipv6.sin6_addr.s6_addr[12], sizeof ipv4);
      ip = DottedText(ipv4);
      return;
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &ipv6.sin6_addr, text, sizeof text);
    ip = text;
    return;
  }
  const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
  ip = DottedText(ipv4.sin_addr);
  port = ntohs(ipv4.sin_port);
}

// Holds SIGPIPE back on the calling thread while it lives, for calls that have no MSG_NOSIGNAL:
// a peer that has gone then shows as EPIPE. A SIGPIPE the call raised is taken out of the
// thread's pending signals before the thread's own mask comes back.
class TSigPipeHeld {
public:
  TSigPipeHeld() {
    sigemptyset(&FPipe);
    sigaddset(&FPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &FPipe, &FPrevious);
    FWasHeld = sigismember(&FPrevious, SIGPIPE) == 1;
  }
  ~TSigPipeHeld() {
    if (FWasHeld) return;
    const timespec now{0, 0};
    while (sigtimedwait(&FPipe, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
  }
  TSigPipeHeld(const TSigPipeHeld&) = delete;
  TSigPipeHeld& operator=(const TSigPipeHeld&) = delete;

private:
  sigset_t FPipe;
  sigset_t FPrevious;
  bool FWasHeld = false;
};

[[noreturn]] void RaiseHostNotFound(TIdStack& stack) { stack.RaiseSocketErrorFor(Id_WSAHOST_NOT_FOUND); }

}  // namespace

std::unique_ptr<TIdStack> NewPlatformStack() { return std::make_unique<TIdStackLinux>(); }

int TIdStackLinux::TranslateErrno(int nativeError) {
  for (const TErrnoMap& entry : kErrnoMap) {
    if (entry.Native == nativeError) return entry.Windows;
  }
  return nativeError;
}

TIdStackSocketHandle TIdStackLinux::SockCreate(int family, int type, int protocol) {
  return Checked(::socket(NativeFamily(family), type | SOCK_CLOEXEC, protocol));
}

int TIdStackLinux::SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) {
  if (family == Id_PF_INET6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    address.sin6_addr = in6addr_any;
    if (!ip.empty() && ::inet_pton(AF_INET6, ip.c_str(), &address.sin6_addr) != 1) {
      tPlatformError = Id_WSAEADDRNOTAVAIL;
      return Id_SOCKET_ERROR;
    }
    return Checked(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  }
  sockaddr_in address{};
  address.sin_family = static_cast<sa_family_t>(family);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (ip.empty()) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    std::uint8_t bytes[4];
    TextToAddress(ip, bytes);
    std::memcpy(&address.sin_addr.s_addr, bytes, 4);
  }
  return Checked(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int TIdStackLinux::SockListen(TIdStackSocketHandle s, int backlog) { return Checked(::listen(s, backlog)); }

TIdStackSocketHandle TIdStackLinux::SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int result = Checked(::accept4(s, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC));
  if (result != -1) SplitAddress(address, ip, port);
  return result;
}

std::int64_t TIdStackLinux::SockRecv(TIdStackSocketHandle s, void* buffer, std::size_t length, int flags) {
  int native = (flags & Id_MSG_NOWAIT) != 0 ? MSG_DONTWAIT : 0;
  if ((flags & Id_MSG_PEEK) != 0) native |= MSG_PEEK;
  return Checked(::recv(s, buffer, length, native));
}

std::int64_t TIdStackLinux::SockSend(TIdStackSocketHandle s, const void* buffer, std::size_t length, int flags) {
  return Checked(::send(s, buffer, length, flags | MSG_NOSIGNAL));
}

std::int64_t TIdStackLinux::SockSendFile(TIdStackSocketHandle s, int fileHandle, std::int64_t& offset,
                                         std::size_t count) {
  const TSigPipeHeld held;
  off_t position = static_cast<off_t>(offset);
  ssize_t sent;
  do {
    sent = ::sendfile(s, fileHandle, &position, count);
  } while (sent == -1 && errno == EINTR);
  Checked(sent);
  offset = static_cast<std::int64_t>(position);
  return sent;
}

// Built on poll: select's fixed descriptor set would overflow once a descriptor number passes
// 1023, which a busy server reaches.
int TIdStackLinux::SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                              int timeoutMs) {
  TIdSocketList* lists[3] = {readList, writeList, errorList};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  std::array<pollfd, 3 * kMaxSelectSet> fds;  // the set limit bounds it: no allocation per wait
  std::size_t used = 0;
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    if (lists[i]->size() > kMaxSelectSet) throw EIdStackSetSizeExceeded();
    for (TIdStackSocketHandle s : *lists[i]) fds[used++] = pollfd{s, events[i], 0};
  }
  const int result = Checked(::poll(fds.data(), used, timeoutMs == Id_TIMEOUT_INFINITE ? -1 : timeoutMs));
  // A closed or shut-down peer counts as readable, as select reports it.
  const short ready[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
  std::size_t next = 0;
  int count = 0;
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    TIdSocketList& list = *lists[i];
    std::size_t kept = 0;
    for (TIdStackSocketHandle s : list) {
      if (result > 0 && (fds[next].revents & ready[i]) != 0) list[kept++] = s;
      ++next;
    }
    list.resize(kept);
    count += static_cast<int>(kept);
  }
  return result > 0 ? count : result;
}

int TIdStackLinux::SockWaitReadable(TIdStackSocketHandle s, int timeoutMs) {
  pollfd wait{s, POLLIN, 0};
  const int result = Checked(::poll(&wait, 1, timeoutMs == Id_TIMEOUT_INFINITE ? -1 : timeoutMs));
  return result > 0 ? ((wait.revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? 1 : 0) : result;
}

int TIdStackLinux::SockWaitWritable(TIdStackSocketHandle s, int timeoutMs) {
  pollfd wait{s, POLLOUT, 0};
  const int result = Checked(::poll(&wait, 1, timeoutMs == Id_TIMEOUT_INFINITE ? -1 : timeoutMs));
  return result > 0 ? ((wait.revents & (POLLOUT | POLLHUP | POLLERR)) != 0 ? 1 : 0) : result;
}

int TIdStackLinux::SockSetBlocking(TIdStackSocketHandle s, bool blocking) {
  const int flags = Checked(::fcntl(s, F_GETFL));
  if (flags == -1) return -1;
  return Checked(::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK));
}

void TIdStackLinux::SockHoldPartialSends(TIdStackSocketHandle s, bool hold) {
  // A failure only costs segments, so it is not reported.
  const int on = hold ? 1 : 0;
  ::setsockopt(s, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

std::int64_t TIdStackLinux::SockUnacknowledged(TIdStackSocketHandle s) {
  int queued = 0;
  return Checked(::ioctl(s, SIOCOUTQ, &queued)) == -1 ? -1 : queued;
}

int TIdStackLinux::SockShutdown(TIdStackSocketHandle s, int how) { return Checked(::shutdown(s, how)); }

int TIdStackLinux::SockClose(TIdStackSocketHandle s) { return Checked(::close(s)); }

int TIdStackLinux::SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value, int length) {
  if (level == Id_SOL_SOCKET && option == Id_SO_SNDTIMEO && length == sizeof(std::int32_t)) {
    // Windows counts milliseconds in a 32-bit number; Linux takes a timeval.
    std::int32_t ms = 0;
    std::memcpy(&ms, value, sizeof ms);
    const timeval timeout{ms / 1000, (ms % 1000) * 1000};
    return Checked(::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout));
  }
  if (level == Id_SOL_SOCKET && option == Id_SO_LINGER && length == sizeof(TIdLinger)) {
    TIdLinger windows;
    std::memcpy(&windows, value, sizeof windows);
    const linger native{windows.OnOff, windows.Seconds};
    return Checked(::setsockopt(s, SOL_SOCKET, SO_LINGER, &native, sizeof native));
  }
  int nativeLevel = level, nativeOption = option;
  NativeOption(level, option, nativeLevel, nativeOption);
  return Checked(::setsockopt(s, nativeLevel, nativeOption, value, static_cast<socklen_t>(length)));
}

int TIdStackLinux::SockGetOption(TIdStackSocketHandle s, int level, int option, void* value, int& length) {
  if (level == Id_SOL_SOCKET && option == Id_SO_SNDTIMEO && length == sizeof(std::int32_t)) {
    timeval timeout{};
    socklen_t timeoutLength = sizeof timeout;
    const int result = Checked(::getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, &timeoutLength));
    const auto ms = static_cast<std::int32_t>(timeout.tv_sec * 1000 + timeout.tv_usec / 1000);
    std::memcpy(value, &ms, sizeof ms);
    return result;
  }
  int nativeLevel = level, nativeOption = option;
  NativeOption(level, option, nativeLevel, nativeOption);
  socklen_t nativeLength = static_cast<socklen_t>(length);
  const int result = Checked(::getsockopt(s, nativeLevel, nativeOption, value, &nativeLength));
  length = static_cast<int>(nativeLength);
  return result;
}

void TIdStackLinux::SocketName(TIdStackSocketHandle s, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  CheckSocketResult(Checked(::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length)));
  SplitAddress(address, ip, port);
}

void TIdStackLinux::PeerName(TIdStackSocketHandle s, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  CheckSocketResult(Checked(::getpeername(s, reinterpret_cast<sockaddr*>(&address), &length)));
  SplitAddress(address, ip, port);
}

std::string TIdStackLinux::HostByName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) RaiseHostNotFound(*this);
  const std::string text = DottedText(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
  ::freeaddrinfo(found);
  return text;
}

std::string TIdStackLinux::HostByAddress(const std::string& address) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  std::uint8_t bytes[4];
  TextToAddress(address, bytes);
  std::memcpy(&socketAddress.sin_addr.s_addr, bytes, 4);
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    RaiseHostNotFound(*this);
  }
  return host;
}

std::string TIdStackLinux::LocalHostName() { return platform::HostName(); }

std::vector<std::string> TIdStackLinux::LocalAddressList() {
  std::vector<std::string> addresses;
  for (const platform::TInterfaceAddress& entry : platform::InterfaceAddresses()) {
    if (entry.Up) addresses.push_back(entry.Address);
  }
  if (addresses.empty()) addresses = platform::HostNameAddresses();
  if (addresses.empty()) RaiseHostNotFound(*this);
  return addresses;
}

std::uint16_t TIdStackLinux::HostToNet16(std::uint16_t value) { return htons(value); }
std::uint16_t TIdStackLinux::NetToHost16(std::uint16_t value) { return ntohs(value); }
std::uint32_t TIdStackLinux::HostToNet32(std::uint32_t value) { return htonl(value); }
std::uint32_t TIdStackLinux::NetToHost32(std::uint32_t value) { return ntohl(value); }

int TIdStackLinux::LastPlatformError() { return tPlatformError; }

void TIdStackLinux::SetLastPlatformError(int error) { tPlatformError = error; }
