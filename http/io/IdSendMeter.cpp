#include "http/io/IdSendMeter.h"

#include <algorithm>

namespace {

// Sends within one 64th of a window (counted from the answer's start) are kept as one, stamped
// with the end of that slice: the record stays short whatever the client does, and the rule errs
// toward the client by at most one slice.
constexpr int kWindowSlices = 64;

}  // namespace

void TIdSendMeter::SetLimits(int windowMs, std::int64_t minBytes) {
  FWindow = std::chrono::milliseconds(std::max(windowMs, 0));
  FMinBytes = std::max<std::int64_t>(minBytes, 1);
  Restart();
}

void TIdSendMeter::Restart() {
  FStarted = false;
  FRecent.clear();
  FHeld = 0;
  FServerTime = TClock::duration(0);
  FLastWriteEnd.reset();
}

void TIdSendMeter::WriteBegins(TClock::time_point now) {
  if (FLastWriteEnd && now > *FLastWriteEnd) FServerTime += now - *FLastWriteEnd;
  FLastWriteEnd.reset();
}

void TIdSendMeter::WriteEnds(TClock::time_point now) { FLastWriteEnd = now; }

TIdSendMeter::TClock::time_point TIdSendMeter::Deadline(TClock::time_point now) {
  if (!FStarted) {
    FStarted = true;
    FStart = now - FServerTime;
  }
  // The window ending at the deadline is the first one to hold fewer than MinBytes: it has just
  // left behind the oldest send without which the rest no longer reach them.
  return (FHeld >= FMinBytes ? FRecent.front().At : FStart) + FWindow + FServerTime;
}

TIdSendMeter::TClock::duration TIdSendMeter::Tolerance() const {
  return std::max<TClock::duration>(FWindow / kWindowSlices, TClock::duration(1));
}

void TIdSendMeter::Moved(std::int64_t bytes, TClock::time_point now) {
  if (bytes <= 0 || !Limited()) return;
  now -= FServerTime;
  if (!FStarted) {
    FStarted = true;
    FStart = now;
  }
  const TClock::duration slice = Tolerance();
  const TClock::time_point sliceEnd = FStart + ((now - FStart) / slice + 1) * slice;
  if (!FRecent.empty() && FRecent.back().At == sliceEnd) {
    FRecent.back().Bytes += bytes;
  } else {
    FRecent.push_back({sliceEnd, bytes});
  }
  FHeld += bytes;
  while (FHeld - FRecent.front().Bytes >= FMinBytes) {
    FHeld -= FRecent.front().Bytes;
    FRecent.pop_front();
  }
}
