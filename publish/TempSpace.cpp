#include "publish/TempSpace.h"

#include <utility>

#include "http/net/IdException.h"

TTempSpace::TCharge::TCharge(TCharge&& other) noexcept
    : FSpace(std::exchange(other.FSpace, nullptr)), FBytes(std::exchange(other.FBytes, 0)) {}

TTempSpace::TCharge& TTempSpace::TCharge::operator=(TCharge&& other) noexcept {
  if (this != &other) {
    if (FSpace != nullptr) FSpace->FInUse -= FBytes;
    FSpace = std::exchange(other.FSpace, nullptr);
    FBytes = std::exchange(other.FBytes, 0);
  }
  return *this;
}

TTempSpace::TCharge::~TCharge() {
  if (FSpace != nullptr) FSpace->FInUse -= FBytes;
}

void TTempSpace::TCharge::Grow(std::int64_t bytes) {
  // Taken first and given back when it went over: two growing files never both slip under.
  if (FSpace->FInUse.fetch_add(bytes) + bytes > FSpace->FLimit) {
    FSpace->FInUse -= bytes;
    throw EIdServerBusy();
  }
  FBytes += bytes;
}
