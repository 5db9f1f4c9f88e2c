#pragma once
// What the program asks of its own process: where its executable lies, whose it is, how many
// files it may hold open, and when its free memory goes back to the system.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// The folder of the running executable with a trailing "/", symbolic links resolved; empty
/// when it cannot be read. Any thread.
std::string ExecutableFolder();

/// The address of symbol in the first of modules (shared objects, by path) that loads; it stays
/// loaded for the life of the process. Null when none loads or has it, with the loader's
/// reason in error. Any thread.
void* FindModuleSymbol(const std::vector<std::string>& modules, const char* symbol, std::string& error);

/// The real user id of the process. Any thread.
std::uint32_t UserId();

/// Raises the soft limit of open files to the hard limit, so that many connections at once do
/// not run out of descriptors long before the system would. Returns the soft limit in force
/// afterwards (the old one when it cannot be raised). Start-up only: no thread may be opening
/// files meanwhile.
std::uint64_t RaiseOpenFileLimit();

/// Hands the memory that the allocator holds free (in the heap and in every thread's arena)
/// back to the system. Costs a walk over the free memory; for quiet moments. Any thread.
void ReleaseFreeMemory();

}  // namespace platform
