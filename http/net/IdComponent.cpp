#include "http/net/IdComponent.h"

#include "http/net/IdStack.h"

TIdComponent::TIdComponent() { IdStackAddUse(); }

TIdComponent::~TIdComponent() { IdStackReleaseUse(); }

void TIdComponent::BeginWork(TWorkMode mode, std::int64_t size) {
  if (++FWorkCount[mode] == 1) {
    FWorkTotal[mode] = 0;
    if (OnWorkBegin) OnWorkBegin(*this, mode, size);
  }
}

void TIdComponent::DoWork(TWorkMode mode, std::int64_t count) {
  if (FWorkCount[mode] < 1) return;
  FWorkTotal[mode] += count;
  if (OnWork) OnWork(*this, mode, FWorkTotal[mode]);
}

void TIdComponent::EndWork(TWorkMode mode) {
  if (FWorkCount[mode] == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
  --FWorkCount[mode];
}

void TIdComponent::DoStatus(TIdStatus status, const std::string& argument) {
  if (!OnStatus) return;
  static const char* const kTexts[] = {"Resolving hostname %s.", "Connecting to %s.", "Connected.",
                                       "Disconnecting.", "Disconnected.", "%s"};
  std::string text = kTexts[status];
  const std::size_t hole = text.find("%s");
  if (hole != std::string::npos) text.replace(hole, 2, argument);
  OnStatus(*this, status, text);
}
