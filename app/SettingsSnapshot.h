#pragma once
// The publish settings as the request handler reads them: a copy of the window's controls that
// the window refreshes on every change.

#include <mutex>

#include "publish/PublishSettings.h"

/// A settings copy under a lock. Update() comes from the window's thread on every control
/// change; Snapshot() from any thread, never waiting on the window's thread.
class TSettingsSnapshot : public ISettingsSource {
public:
  /// Replaces the copy. Any thread.
  void Update(const TPublishSettings& settings);

  TPublishSettings Snapshot() const override;

private:
  mutable std::mutex FLock;
  TPublishSettings FSettings;  // guarded by FLock
};
