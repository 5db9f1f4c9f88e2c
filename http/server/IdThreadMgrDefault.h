#pragma once
// The thread manager that gives every connection a new thread and never reuses one.

#include "http/server/IdThreadMgr.h"

class TIdThreadMgrDefault : public TIdThreadMgr {
public:
  std::unique_ptr<TIdPeerThread> AcquireThread() override;
  /// From the thread itself (its clean-up): it frees itself once its function returns. From any
  /// other thread: waits for it to end, then frees it.
  void RetireThread(TIdPeerThread& thread) override;
};
