#include "http/io/IdFileStream.h"

#include "http/net/IdException.h"
#include "platform/FilePath.h"

#include <algorithm>

TIdReadOnlyFileStream::TIdReadOnlyFileStream(const std::string& fileName) : FFile(fileName) {
  if (!FFile.IsOpen())
    throw EFOpenError("Cannot open file \"" + platform::ExpandFileName(fileName) + "\". " + FFile.Error());
}

std::size_t TIdReadOnlyFileStream::Read(void* buffer, std::size_t count) {
  const std::size_t n = FFile.ReadAt(buffer, count, FPosition);
  FPosition += static_cast<std::int64_t>(n);
  return n;
}

std::size_t TIdReadOnlyFileStream::Write(const void*, std::size_t) {
  throw EIdException("Stream is read-only.");
}

std::int64_t TIdReadOnlyFileStream::Size() const { return FFile.CurrentSize(); }

void TIdReadOnlyFileStream::SetSize(std::int64_t) { throw EIdException("Stream is read-only."); }

void TIdReadOnlyFileStream::SetPosition(std::int64_t position) {
  // The start is always there: no look at the file's size for it.
  FPosition = position <= 0 ? 0 : std::min(position, Size());
}

std::int64_t FileSizeOf(const std::string& fileName) { return TIdReadOnlyFileStream(fileName).SizeAtOpen(); }
