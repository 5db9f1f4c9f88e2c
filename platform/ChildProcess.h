#pragma once
// Running another program as a child process, without a shell, under a time and memory limit,
// and collecting what it writes to its standard output.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// The full path of the program name as found on $PATH (name itself when it holds a "/" and is
/// executable); empty when there is none. Any thread.
std::string FindProgram(const std::string& name);

/// Runs arguments[0] (a full path) with arguments, no shell between, standard input and error
/// on /dev/null, its address space limited to memoryBytes. Returns whether it exited with status
/// 0 within timeoutMs, having written at most maxOutput bytes to its standard output, which are
/// then in output. A child over its time or output is killed; none is ever left behind. Any
/// thread.
bool RunProgram(const std::vector<std::string>& arguments, int timeoutMs, std::uint64_t memoryBytes,
                std::size_t maxOutput, std::string& output);

}  // namespace platform
