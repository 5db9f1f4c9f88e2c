#include "app/SettingsSnapshot.h"

void TSettingsSnapshot::Update(const TPublishSettings& settings) {
  const std::lock_guard<std::mutex> guard(FLock);
  FSettings = settings;
}

TPublishSettings TSettingsSnapshot::Snapshot() const {
  const std::lock_guard<std::mutex> guard(FLock);
  return FSettings;
}
