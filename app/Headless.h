#pragma once
// The program without a window: serves the root given on the command line until SIGINT or
// SIGTERM, logging to standard output.

/// Runs "velmora --headless ..." (argv[1] is "--headless"); returns the exit status.
int RunHeadless(int argc, char** argv);
