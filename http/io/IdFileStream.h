#pragma once
// Files as streams for sending: opened read-only, never kept open past their use.

#include "http/io/IdStream.h"

#include <cstdint>
#include <string>

/// A regular file open for reading (O_RDONLY | O_CLOEXEC), 64-bit sizes and positions. Owns its
/// descriptor. Writing and resizing throw EIdException. Used by one thread.
class TIdReadOnlyFileStream : public TIdStream {
public:
  /// Opens fileName. Throws EFOpenError ("Cannot open file "<full name>". <system's error
  /// text>") when it cannot be opened or is not a regular file: a FIFO or a device is never
  /// opened for reading, because a read could block or never end.
  explicit TIdReadOnlyFileStream(const std::string& fileName);
  ~TIdReadOnlyFileStream() override;
  TIdReadOnlyFileStream(const TIdReadOnlyFileStream&) = delete;
  TIdReadOnlyFileStream& operator=(const TIdReadOnlyFileStream&) = delete;

  /// Up to count bytes at the position; 0 at the end, and also when the read fails (a reader
  /// that expected more bytes reports that).
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  /// The file's size now.
  std::int64_t Size() const override;
  /// The file's size when it was opened.
  std::int64_t SizeAtOpen() const { return FSizeAtOpen; }
  /// The open descriptor, owned by the stream, e.g. for sendfile(2).
  int Handle() const { return FHandle; }
  void SetSize(std::int64_t size) override;
  std::int64_t Position() const override { return FPosition; }
  void SetPosition(std::int64_t position) override;

private:
  int FHandle = -1;
  std::int64_t FPosition = 0;
  std::int64_t FSizeAtOpen = 0;
};

/// The size in bytes of the file fileName, opened for the query and closed again. Throws
/// EFOpenError as TIdReadOnlyFileStream does.
std::int64_t FileSizeOf(const std::string& fileName);
