#pragma once
// Settings a test changes between requests, read by the request handler on its connection threads.

#include <mutex>

#include "publish/PublishSettings.h"

class TTestSettings : public ISettingsSource {
public:
  TPublishSettings Snapshot() const override {
    std::lock_guard<std::mutex> lock(FLock);
    return FSettings;
  }
  void Set(const TPublishSettings& settings) {
    std::lock_guard<std::mutex> lock(FLock);
    FSettings = settings;
  }

private:
  mutable std::mutex FLock;
  TPublishSettings FSettings;  // guarded by FLock
};
