#pragma once
// The program without a window: serves the root given on the command line until SIGINT or
// SIGTERM, logging to standard output.

#include <string>
#include <vector>

/// Runs "velmora --headless ARGS" with args the arguments after "--headless"; also answers
/// --help and --version given without it. Returns the exit status.
int RunHeadless(const std::vector<std::string>& args);
