#pragma once
// Files as streams for sending: opened read-only, never kept open past their use.

#include "http/io/IdStream.h"
#include "platform/ReadOnlyFile.h"

#include <cstdint>
#include <ctime>
#include <string>

/// A regular file open for reading, 64-bit sizes and positions. Owns its descriptor. Writing and
/// resizing throw EIdException. Used by one thread.
class TIdReadOnlyFileStream : public TIdStream {
public:
  /// Opens fileName. Throws EFOpenError ("Cannot open file "<full name>". <system's error
  /// text>") when it cannot be opened or is not a regular file: a FIFO or a device is never
  /// opened for reading, because a read could block or never end.
  explicit TIdReadOnlyFileStream(const std::string& fileName);

  /// Up to count bytes at the position; 0 at the end, and also when the read fails (a reader
  /// that expected more bytes reports that).
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  /// The file's size now.
  std::int64_t Size() const override;
  /// The file's size when it was opened.
  std::int64_t SizeAtOpen() const { return FFile.SizeAtOpen(); }
  /// The file's last-write time when it was opened.
  std::time_t LastWriteAtOpen() const { return FFile.LastWriteAtOpen(); }
  /// The open descriptor, owned by the stream, e.g. for sendfile(2).
  int Handle() const override { return FFile.Handle(); }
  /// The open file, for what it was when opened (identity, time to the nanosecond) and is now.
  const platform::TReadOnlyFile& File() const { return FFile; }
  void SetSize(std::int64_t size) override;
  std::int64_t Position() const override { return FPosition; }
  void SetPosition(std::int64_t position) override;

private:
  platform::TReadOnlyFile FFile;
  std::int64_t FPosition = 0;
};

/// The size in bytes of the file fileName, opened for the query and closed again. Throws
/// EFOpenError as TIdReadOnlyFileStream does.
std::int64_t FileSizeOf(const std::string& fileName);
