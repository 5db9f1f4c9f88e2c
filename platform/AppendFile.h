#pragma once
// A file that whole lines are appended to from many threads, and that can be opened anew under
// its name once log rotation has moved it away.

#include "platform/Lock.h"
#include <string>
#include <string_view>

namespace platform {

/// A file of lines, opened for appending (created with mode 0644 less the umask when missing).
/// Each line goes to the end of the file in one write under a lock, so lines of different
/// threads never interleave, also with other processes appending. Any thread.
class TAppendFile {
public:
  /// Names the file; nothing is opened before Reopen().
  explicit TAppendFile(std::string path);
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  /// Opens the file of the name anew and appends to it from now on; the file written before is
  /// closed. False, with the file written before kept, when it cannot be opened.
  bool Reopen();
  /// Appends line and a line end. False when the file is not open or not all of it was written.
  bool AppendLine(std::string_view line);
  const std::string& Path() const { return FPath; }

private:
  const std::string FPath;
  TLock FLock;  // also keeps each line's write whole
  int FHandle GUARDED_BY(FLock) = -1;
};

}  // namespace platform
