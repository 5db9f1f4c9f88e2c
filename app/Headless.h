#pragma once
// The program without a window: serves the root given on the command line until SIGINT or
// SIGTERM, logging to standard output.

#include <string>
#include <vector>

/// Runs the program without a window, args being its command line after the program's name
/// ("--headless" anywhere in it); also answers --help and --version given without it. Returns
/// the exit status: 0 after a stop by signal, 1 when the server cannot listen, 2 for a bad
/// command line.
int RunHeadless(const std::vector<std::string>& args);
