#pragma once
// Start-up with the window: one instance per user, then the main window until it closes.

/// Runs the program with its window; returns the exit status. argv[1], when present, names
/// the root folder. Without a display it explains the headless mode and returns 2.
int RunWindow(int argc, char** argv);
