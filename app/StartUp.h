#pragma once
// Start-up with the window: one instance per user, then the main window until it closes.

/// Runs the program with its window; returns the exit status. The command line may name the
/// root folder (with "--" before a name that begins with "-"), and holds no other option. Without a
/// display, or with another option, it explains the headless mode and returns 2.
int RunWindow(int argc, char** argv);
