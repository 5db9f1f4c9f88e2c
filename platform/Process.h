#pragma once
// What the program asks of its own process: where its executable lies, whose it is, which ports
// it may bind, how many files it may hold open, and when its free memory goes back to the system.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// The full path of the running executable, symbolic links resolved; empty when it cannot be
/// read. Any thread.
std::string ExecutablePath();

/// The folder of the running executable with a trailing "/", symbolic links resolved; empty
/// when it cannot be read. Any thread.
std::string ExecutableFolder();

/// The address of symbol in the first of modules (shared objects, by path) that loads; it stays
/// loaded for the life of the process. Null when none loads or has it, with the loader's
/// reason in error. Any thread.
void* FindModuleSymbol(const std::vector<std::string>& modules, const char* symbol, std::string& error);

/// The real user id of the process. Any thread.
std::uint32_t UserId();

/// What decides whether this process may bind a TCP port below 1024.
struct TBindRights {
  bool Root = false;                  // effective user id 0
  bool NetBindService = false;        // CAP_NET_BIND_SERVICE in the effective capability set
  int UnprivilegedPortStart = 1024;   // net.ipv4.ip_unprivileged_port_start: the first port anyone may bind

  /// Whether a listening socket on port can be bound with these rights.
  bool MayBind(int port) const { return Root || NetBindService || port >= UnprivilegedPortStart; }
};

/// The rights of this process, read from /proc; what cannot be read counts as not held (the
/// unprivileged start as 1024, the system's default). Any thread.
TBindRights BindRights();

/// Raises the soft limit of open files to the hard limit, so that many connections at once do
/// not run out of descriptors long before the system would. Returns the soft limit in force
/// afterwards (the old one when it cannot be raised). Start-up only: no thread may be opening
/// files meanwhile.
std::uint64_t RaiseOpenFileLimit();

/// Hands the memory that the allocator holds free (in the heap and in every thread's arena)
/// back to the system. Costs a walk over the free memory; for quiet moments. Any thread.
void ReleaseFreeMemory();

}  // namespace platform
