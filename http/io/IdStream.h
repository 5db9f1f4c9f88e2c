#pragma once
// Seekable byte streams: the bodies of requests and responses, and what connections read into
// and write from.

#include <cstddef>
#include <cstdint>
#include <string>

/// A seekable sequence of bytes with a current position. Not shared between threads.
class TIdStream {
public:
  virtual ~TIdStream() = default;
  /// Reads up to count bytes at the position and moves past them; 0 at the end.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  /// Writes count bytes at the position, growing the stream as needed; returns count.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Size() const = 0;
  /// Cuts or grows the stream; the position stays unless it would lie past the new end.
  virtual void SetSize(std::int64_t size) = 0;
  virtual std::int64_t Position() const = 0;
  /// Any position from 0 to Size() is valid; others are brought to the nearest of the two.
  virtual void SetPosition(std::int64_t position) = 0;
  /// The descriptor of a stream held in a file, for the platform's file transmit call; -1 for
  /// a stream held otherwise.
  virtual int Handle() const { return -1; }
};

/// A stream held in memory as a string.
class TIdStringStream : public TIdStream {
public:
  TIdStringStream() = default;
  explicit TIdStringStream(std::string data) : FData(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t size) override;
  std::int64_t Position() const override { return static_cast<std::int64_t>(FPosition); }
  void SetPosition(std::int64_t position) override;

  /// The whole contents, whatever the position.
  const std::string& DataString() const { return FData; }

private:
  std::string FData;
  std::size_t FPosition = 0;
};
