#include "http/io/IdBuffer.h"

#include "http/net/IdException.h"

void TIdSimpleBuffer::Append(const void* data, std::size_t count) {
  FData.append(static_cast<const char*>(data), count);
}

void TIdSimpleBuffer::Remove(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  FData.erase(0, count);
  NotifyRemoved(count);
}

std::string TIdSimpleBuffer::Extract(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  std::string front(Memory(), count);
  Remove(count);
  return front;
}

void TIdManagedBuffer::Remove(std::size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  if (count == Size()) {
    Clear();
  } else {
    FConsumedBytes += count;
    if (FConsumedBytes >= PackThreshold) {
      FData.erase(0, FConsumedBytes);
      FConsumedBytes = 0;
    }
  }
  NotifyRemoved(count);
}

void TIdManagedBuffer::Clear() {
  FData.clear();
  FConsumedBytes = 0;
}
