#pragma once
// Where a built answer (a listing, an index) is written: in memory while it is small, in an
// unlinked temporary file once it is large, so that no large answer is held in memory while a
// client reads it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/TempFile.h"
#include "publish/TempSpace.h"

class TIdHTTPResponseInfo;

/// The bytes kept in memory before a body goes to a temporary file.
constexpr std::size_t kBodyMemoryLimit = 1 << 20;

/// A body being built: up to memoryLimit bytes in memory; past it, everything in a temporary
/// file charged to space. Used by one thread.
class TBodySink {
public:
  explicit TBodySink(TTempSpace& space, std::size_t memoryLimit = kBodyMemoryLimit);
  ~TBodySink();
  TBodySink(const TBodySink&) = delete;
  TBodySink& operator=(const TBodySink&) = delete;

  /// Throws EIdServerBusy when the temporary space is used up, std::system_error when the
  /// temporary file cannot be made or written.
  void Append(std::string_view bytes);
  /// The same; bytes that fit the memory limit become the body without a copy while the body is
  /// still empty, as a page built whole in one buffer does. Leaves bytes empty or as it was.
  void AppendMoved(std::string&& bytes);
  /// Appends the whole body of other, which is left as it was. Throws as Append does.
  void Append(TBodySink& other);
  std::int64_t Size() const;
  TTempSpace& Space() const { return FSpace; }
  std::size_t MemoryLimit() const { return FMemoryLimit; }
  /// Whether the body went to a temporary file.
  bool Spilled() const { return FFile != nullptr; }
  /// The whole body, read back from the file when it went there.
  std::string Contents();
  /// Hands the body to response: BodyText when it stayed in memory, else an owned stream over
  /// the file, which keeps its charge of the temporary space until the response lets it go.
  /// The sink is empty afterwards.
  void MoveInto(TIdHTTPResponseInfo& response);

private:
  void Spill();
  void Flush();

  TTempSpace& FSpace;
  const std::size_t FMemoryLimit;
  std::string FText;  // the body while in memory; then what waits to be written to the file
  std::unique_ptr<platform::TTempFile> FFile;
  TTempSpace::TCharge FCharge;
};
