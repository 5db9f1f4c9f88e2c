#pragma once
// Whole lines on standard output from many threads at once.

#include <string_view>

namespace platform {

/// Writes line and a line end to standard output in one write, so that lines of different
/// threads never mix, without making threads wait for each other's writes: the system keeps a
/// single write whole (a file under its position lock, a terminal under its write lock, a pipe
/// up to PIPE_BUF bytes). A longer line waits for the writes under way and holds off the others
/// until it is out. Nothing is reported: a log that cannot be written is lost. Any thread.
void WriteOutputLine(std::string_view line);

}  // namespace platform
