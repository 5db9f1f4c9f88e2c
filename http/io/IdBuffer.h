#pragma once
// Byte buffers of a connection: pending writes (TIdSimpleBuffer) and the
// input queue, which consumes from its front without moving memory each time (TIdManagedBuffer).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// A growable byte buffer. OnBytesRemoved learns every removal from the front. One thread.
class TIdSimpleBuffer {
public:
  virtual ~TIdSimpleBuffer() = default;

  /// Bytes held (for the managed buffer: not yet consumed).
  virtual std::size_t Size() const { return FData.size(); }
  /// The first held byte.
  virtual const char* Memory() const { return FData.data(); }
  void Append(const void* data, std::size_t count);
  /// Makes room for count bytes at once, so that many small appends do not grow it step by step.
  void Reserve(std::size_t count) { FData.reserve(count); }
  /// Removes count bytes from the front. Throws EIdNotEnoughDataInBuffer when fewer are held.
  virtual void Remove(std::size_t count);
  /// The first count bytes, removed. Throws EIdNotEnoughDataInBuffer when fewer are held.
  std::string Extract(std::size_t count);
  /// Drops everything.
  virtual void Clear() { FData.clear(); }

  std::function<void(std::size_t count)> OnBytesRemoved;

protected:
  void NotifyRemoved(std::size_t count) {
    if (OnBytesRemoved) OnBytesRemoved(count);
  }
  std::string FData;
};

/// The input queue: removal from the front only advances an offset, and the unconsumed bytes
/// are moved down once PackThreshold consumed bytes have gathered or the queue runs empty.
class TIdManagedBuffer : public TIdSimpleBuffer {
public:
  static constexpr std::size_t PackThreshold = 32768;

  std::size_t Size() const override { return FData.size() - FConsumedBytes; }
  const char* Memory() const override { return FData.data() + FConsumedBytes; }
  void Remove(std::size_t count) override;
  void Clear() override;
  /// Front bytes consumed and not yet packed away.
  std::size_t ConsumedBytes() const { return FConsumedBytes; }

private:
  std::size_t FConsumedBytes = 0;
};
