#include "publish/BodySink.h"

#include <algorithm>
#include <utility>

#include "http/io/IdStream.h"
#include "http/net/IdException.h"
#include "http/protocol/IdHTTPResponseInfo.h"

namespace {

// What collects in memory between writes to the file, once the body is there.
constexpr std::size_t kWriteBlock = 64 * 1024;

// A body spilled to a temporary file, as a response's stream. Read only.
class TSpilledBody : public TIdStream {
public:
  TSpilledBody(std::unique_ptr<platform::TTempFile> file, TTempSpace::TCharge charge)
      : FFile(std::move(file)), FCharge(std::move(charge)) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t n = FFile->ReadAt(buffer, count, FPosition);
    FPosition += static_cast<std::int64_t>(n);
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { throw EIdException("Stream is read-only."); }
  std::int64_t Size() const override { return FFile->Size(); }
  void SetSize(std::int64_t) override { throw EIdException("Stream is read-only."); }
  std::int64_t Position() const override { return FPosition; }
  void SetPosition(std::int64_t position) override { FPosition = std::clamp<std::int64_t>(position, 0, Size()); }
  int Handle() const override { return FFile->Handle(); }

private:
  std::unique_ptr<platform::TTempFile> FFile;
  TTempSpace::TCharge FCharge;
  std::int64_t FPosition = 0;
};

}  // namespace

TBodySink::TBodySink(TTempSpace& space, std::size_t memoryLimit)
    : FSpace(space), FMemoryLimit(memoryLimit), FCharge(space) {}

TBodySink::~TBodySink() = default;

void TBodySink::Append(std::string_view bytes) {
  if (!FFile && FText.size() + bytes.size() > FMemoryLimit) Spill();
  FText += bytes;
  if (FFile && FText.size() >= kWriteBlock) Flush();
}

void TBodySink::AppendMoved(std::string&& bytes) {
  if (!FFile && FText.empty() && bytes.size() <= FMemoryLimit) {
    FText.swap(bytes);
    bytes.clear();
    return;
  }
  Append(std::string_view(bytes));
}

void TBodySink::Append(TBodySink& other) {
  if (!other.FFile) {
    Append(std::string_view(other.FText));
    return;
  }
  other.Flush();
  std::string block(kWriteBlock, '\0');
  for (std::int64_t offset = 0; offset < other.FFile->Size();) {
    const std::size_t n = other.FFile->ReadAt(block.data(), block.size(), offset);
    if (n == 0) throw EIdNoDataToRead();
    Append(std::string_view(block.data(), n));
    offset += static_cast<std::int64_t>(n);
  }
}

std::int64_t TBodySink::Size() const {
  return (FFile ? FFile->Size() : 0) + static_cast<std::int64_t>(FText.size());
}

std::string TBodySink::Contents() {
  if (!FFile) return FText;
  Flush();
  std::string contents(static_cast<std::size_t>(FFile->Size()), '\0');
  contents.resize(FFile->ReadAt(contents.data(), contents.size(), 0));
  return contents;
}

void TBodySink::MoveInto(TIdHTTPResponseInfo& response) {
  if (!FFile) {
    response.BodyText = std::move(FText);
    FText.clear();
    return;
  }
  Flush();
  response.SetBodyStream(std::make_unique<TSpilledBody>(std::move(FFile), std::move(FCharge)));
  FCharge = TTempSpace::TCharge(FSpace);
}

void TBodySink::Spill() {
  FFile = std::make_unique<platform::TTempFile>();
  Flush();
  // The memory that held the body goes back: from here on only a block waits in it.
  std::string().swap(FText);
}

void TBodySink::Flush() {
  if (FText.empty()) return;
  FCharge.Grow(static_cast<std::int64_t>(FText.size()));
  FFile->Append(FText.data(), FText.size());
  FText.clear();
}
