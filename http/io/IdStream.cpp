#include "http/io/IdStream.h"

#include <algorithm>
#include <cstring>

std::size_t TIdStringStream::Read(void* buffer, std::size_t count) {
  const std::size_t n = std::min(count, FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

std::size_t TIdStringStream::Write(const void* buffer, std::size_t count) {
  if (FPosition + count > FData.size()) FData.resize(FPosition + count);
  std::memcpy(FData.data() + FPosition, buffer, count);
  FPosition += count;
  return count;
}

void TIdStringStream::SetSize(std::int64_t size) {
  FData.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  FPosition = std::min(FPosition, FData.size());
}

void TIdStringStream::SetPosition(std::int64_t position) {
  FPosition = static_cast<std::size_t>(std::clamp<std::int64_t>(position, 0, Size()));
}
