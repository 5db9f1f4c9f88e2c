#pragma once
// The disk space that answers spilled into temporary files may take at once.

#include <atomic>
#include <cstdint>

/// A bound on the bytes held in temporary files by all answers of one server together. Charges
/// are taken as files grow and given back when they close. Any thread.
class TTempSpace {
public:
  explicit TTempSpace(std::int64_t limit) : FLimit(limit) {}
  TTempSpace(const TTempSpace&) = delete;
  TTempSpace& operator=(const TTempSpace&) = delete;

  /// What one temporary file holds of the space; given back when it is destroyed. Move-only.
  class TCharge {
  public:
    TCharge() = default;
    explicit TCharge(TTempSpace& space) : FSpace(&space) {}
    TCharge(TCharge&& other) noexcept;
    TCharge& operator=(TCharge&& other) noexcept;
    ~TCharge();
    /// Takes bytes more. Throws EIdServerBusy, taking nothing, when the space would be exceeded.
    void Grow(std::int64_t bytes);

  private:
    TTempSpace* FSpace = nullptr;
    std::int64_t FBytes = 0;
  };

  std::int64_t InUse() const { return FInUse.load(); }

private:
  const std::int64_t FLimit;
  std::atomic<std::int64_t> FInUse{0};
};
