#pragma once
// Whether the other end of a connected socket has gone, asked without reading anything from it.

namespace platform {

/// Whether the peer of the connected socket has closed its side or the connection has failed
/// (a hang-up, a reset, or a shutdown of its sending side); false while it is open or the
/// question cannot be asked. Never blocks and consumes no data. Any thread.
bool HasPeerHungUp(int socket);

}  // namespace platform
