#include "platform/SocketHangup.h"

#include <poll.h>

namespace platform {

bool HasPeerHungUp(int socket) {
  if (socket < 0) return false;
  pollfd entry{socket, POLLRDHUP, 0};
  if (poll(&entry, 1, 0) != 1) return false;
  return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace platform
