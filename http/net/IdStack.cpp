#include "http/net/IdStack.h"

#include "http/net/IdException.h"
#include "platform/CodePage.h"
#include "platform/Lock.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <memory>

namespace {

struct TErrorText {
  int Number;
  const char* Text;
};

const TErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// The error CheckSocketResult captured, one per thread: the stack object is shared and a
// number written by another thread's failure must not be reported as this one's.
thread_local int tLastError = 0;

// Never destroyed, so that a connection thread finishing during process exit still finds them.
struct TStackInstance {
  platform::TLock Lock;
  int UseCount GUARDED_BY(Lock) = 0;
  std::unique_ptr<TIdStack> Stack GUARDED_BY(Lock);  // the threads use it through gStack
};

TStackInstance& Instance() {
  static TStackInstance* instance = new TStackInstance;
  return *instance;
}

// Read without the lock: only a TIdComponent may call GStack(), and while one lives the
// object cannot be freed.
std::atomic<TIdStack*> gStack{nullptr};

bool IsDecimalByte(const std::string& part) {
  if (part.empty() || part.size() > 3) return false;
  int value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= 255;
}

}  // namespace

TIdStack* GStack() { return gStack.load(std::memory_order_acquire); }

void IdStackAddUse() {
  TStackInstance& instance = Instance();
  platform::TLockGuard lock(instance.Lock);
  if (instance.UseCount++ == 0) {
    instance.Stack = NewPlatformStack();
    gStack.store(instance.Stack.get(), std::memory_order_release);
  }
}

void IdStackReleaseUse() {
  TStackInstance& instance = Instance();
  platform::TLockGuard lock(instance.Lock);
  if (--instance.UseCount == 0) {
    gStack.store(nullptr, std::memory_order_release);
    instance.Stack.reset();
  }
}

std::string TIdStack::FirstLocalAddress() {
  const std::vector<std::string> addresses = LocalAddressList();
  return addresses.empty() ? std::string() : addresses.front();
}

std::string TIdStack::ErrorMessageFor(int errorNumber) {
  const char* text = "";
  for (const TErrorText& entry : kErrorTexts) {
    if (entry.Number == errorNumber) text = entry.Text;
  }
  return "Socket Error # " + std::to_string(errorNumber) + "\r\n" + text;
}

std::string TIdStack::AddressToText(const std::uint8_t (&address)[4]) {
  // Written into one buffer: every accepted client's address passes through here.
  char text[16];
  char* end = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) *end++ = '.';
    end = std::to_chars(end, text + sizeof text, address[i]).ptr;
  }
  return std::string(text, end);
}

void TIdStack::TextToAddress(const std::string& text, std::uint8_t (&address)[4]) {
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? text.find('.', start) : std::string::npos;
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    unsigned value = 0;
    for (char c : part) {
      if (c >= '0' && c <= '9') value = value * 10 + static_cast<unsigned>(c - '0');
    }
    address[i] = static_cast<std::uint8_t>(value);
    start = dot == std::string::npos ? text.size() : dot + 1;
  }
}

bool TIdStack::CheckSocketResult(std::int64_t result, std::initializer_list<int> accepted) {
  if (result != Id_SOCKET_ERROR) return false;
  tLastError = LastPlatformError();
  for (int number : accepted) {
    if (number == tLastError) return true;
  }
  RaiseSocketErrorFor(tLastError);
}

void TIdStack::RaiseSocketErrorFor(int errorNumber) {
  throw EIdSocketError(errorNumber, ErrorMessageFor(errorNumber));
}

TIdStackSocketHandle TIdStack::NewSocketHandle(int type, int protocol, int family) {
  const TIdStackSocketHandle s = SockCreate(family, type, protocol);
  if (s == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return s;
}

TIdIPVersion TIdStack::AnyAddressVersion() {
  // A trial socket on a port of the system's choosing: a machine without IPv6 refuses the
  // socket itself, one with IPv6 switched off refuses the bind to the unspecified address.
  const TIdStackSocketHandle s = SockCreate(Id_PF_INET6, Id_SOCK_STREAM, 0);
  if (s == Id_INVALID_SOCKET) return Id_IPv4;
  const std::int32_t off = 0;
  const bool bound = SockSetOption(s, Id_IPPROTO_IPV6, Id_IPV6_V6ONLY, &off, sizeof off) != Id_SOCKET_ERROR &&
                     SockBind(s, Id_PF_INET6, "", 0) != Id_SOCKET_ERROR;
  SockClose(s);
  return bound ? Id_IPv6 : Id_IPv4;
}

std::string TIdStack::ResolveHostName(const std::string& host) {
  std::string upper = host;
  std::transform(upper.begin(), upper.end(), upper.begin(), platform::AsciiUpper);
  if (upper == "LOCALHOST") return "127.0.0.1";
  if (IsDottedQuad(host)) return host;
  return HostByName(host);
}

bool TIdStack::IsDottedQuad(const std::string& text) {
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = text.find('.', start);
    if (dot == std::string::npos || !IsDecimalByte(text.substr(start, dot - start))) return false;
    start = dot + 1;
  }
  return IsDecimalByte(text.substr(start));
}

std::uint32_t TIdStack::ParseDottedQuad(const std::string& text) {
  std::uint8_t address[4];
  TextToAddress(text, address);
  return (std::uint32_t{address[0]} << 24) | (std::uint32_t{address[1]} << 16) | (std::uint32_t{address[2]} << 8) |
         address[3];
}

int TIdStack::LastError() const { return tLastError; }
