#include "http/net/IdDrainingCloser.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

namespace {

// The drop of one read; what a peer still sends after an answer is seldom more.
constexpr std::size_t kDropBlock = 4096;

[[noreturn]] void RaiseOutOfResources() {
  GStack()->RaiseSocketErrorFor(errno == EMFILE || errno == ENFILE ? Id_WSAEMFILE : Id_WSAENOBUFS);
}

}  // namespace

TIdDrainingCloser::TIdDrainingCloser(std::chrono::milliseconds drainTime, std::size_t maxBytes,
                                     std::size_t maxSockets)
    : DrainTime(drainTime), MaxBytes(maxBytes), MaxSockets(std::max<std::size_t>(maxSockets, 1)) {
  FPoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (FPoll == -1) RaiseOutOfResources();
  FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.fd = FWake;
  if (FWake == -1 || ::epoll_ctl(FPoll, EPOLL_CTL_ADD, FWake, &wake) == -1) {
    const int error = errno;
    if (FWake != -1) ::close(FWake);
    ::close(FPoll);
    errno = error;
    RaiseOutOfResources();
  }
  FThread = std::thread(&TIdDrainingCloser::Run, this);
}

TIdDrainingCloser::~TIdDrainingCloser() {
  {
    platform::TLockGuard lock(FLock);
    FEnding = true;
  }
  const std::uint64_t one = 1;
  while (::write(FWake, &one, sizeof one) == -1 && errno == EINTR) {
  }
  FThread.join();
  platform::TLockGuard lock(FLock);
  while (!FOrder.empty()) CloseLocked(FOrder.front());
  ::close(FWake);
  ::close(FPoll);
}

void TIdDrainingCloser::Adopt(TIdStackSocketHandle socket) {
  platform::TLockGuard lock(FLock);
  epoll_event interest{};
  interest.events = EPOLLIN | EPOLLRDHUP;
  interest.data.fd = socket;
  if (FEnding || ::epoll_ctl(FPoll, EPOLL_CTL_ADD, socket, &interest) == -1) {
    GStack()->SockClose(socket);
    return;
  }
  if (FWaiting.size() >= MaxSockets) CloseLocked(FOrder.front());
  FOrder.push_back(socket);
  FWaiting[socket] = {TClock::now() + DrainTime, 0, std::prev(FOrder.end())};
}

std::size_t TIdDrainingCloser::Count() const {
  platform::TLockGuard lock(FLock);
  return FWaiting.size();
}

void TIdDrainingCloser::Run() {
  std::array<epoll_event, 64> ready;
  platform::TLockGuard lock(FLock);
  while (!FEnding) {
    const int waitMs = CloseDueLocked();
    lock.Unlock();
    const int count = ::epoll_wait(FPoll, ready.data(), static_cast<int>(ready.size()), waitMs);
    lock.Lock();
    // A reported socket that was closed meanwhile (to make room) is gone from the list, or its
    // number already belongs to another waiting socket: a read that finds nothing is harmless.
    for (int i = 0; i < count && !FEnding; ++i) {
      const auto found = FWaiting.find(ready[static_cast<std::size_t>(i)].data.fd);
      if (found != FWaiting.end() && DrainSome(found->first, found->second)) CloseLocked(found->first);
    }
  }
}

bool TIdDrainingCloser::DrainSome(TIdStackSocketHandle socket, TWaiting& waiting) const {
  char block[kDropBlock];
  while (waiting.Dropped < MaxBytes) {
    const std::int64_t n = GStack()->SockRecv(socket, block, sizeof block, Id_MSG_NOWAIT);
    if (n == 0) return true;
    if (n < 0) return GStack()->LastPlatformError() != Id_WSAEWOULDBLOCK;
    waiting.Dropped += static_cast<std::size_t>(n);
  }
  return true;
}

void TIdDrainingCloser::CloseLocked(TIdStackSocketHandle socket) {
  const auto found = FWaiting.find(socket);
  FOrder.erase(found->second.InOrder);
  FWaiting.erase(found);
  // The last descriptor of the socket: closing it also takes it out of the epoll set.
  GStack()->SockClose(socket);
}

int TIdDrainingCloser::CloseDueLocked() {
  const TClock::time_point now = TClock::now();
  while (!FOrder.empty()) {
    const TClock::time_point due = FWaiting.at(FOrder.front()).Due;
    if (due > now) return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
    CloseLocked(FOrder.front());
  }
  return -1;
}
