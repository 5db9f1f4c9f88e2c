#include "publish/IndexParts.h"

#include <system_error>
#include <utility>

#include "publish/IndexWriter.h"

TIndexParts::TIndexParts(const TTreeWalk& walk, std::string indexedFolder, std::vector<platform::TSearchRec> folders,
                         TTreeWalk::TWalked walked, TTempSpace& space, std::size_t memoryLimit, std::size_t helpers)
    : FWalk(walk.Rule, &FStopping),
      FIndexedFolder(std::move(indexedFolder)),
      FFolders(std::move(folders)),
      FWalkedBefore(std::move(walked)),
      FSpace(space),
      FMemoryLimit(memoryLimit),
      FParts(FFolders.size()) {
  if (FFolders.size() < 2) return;
  try {
    for (std::size_t i = 0; i < helpers; ++i) FHelpers.emplace_back(&TIndexParts::Help, this);
  } catch (const std::system_error&) {
    // No thread to be had: the building thread walks the rest.
  }
}

TIndexParts::~TIndexParts() {
  FStopping = true;
  for (std::thread& helper : FHelpers) helper.join();
}

std::unique_ptr<TBodySink> TIndexParts::Take(std::size_t index, TTreeWalk::TWalked& walked) {
  platform::TLockGuard lock(FLock);
  while (!FParts[index].Done) {
    // Rather than wait for a helper, walk a part that comes later.
    const std::optional<std::size_t> next = ClaimNext();
    if (!next) {
      FPartDone.wait(lock.Native());
      continue;
    }
    lock.Unlock();
    TPart walked = WalkPart(*next);
    lock.Lock();
    Keep(*next, std::move(walked));
  }
  TPart part = std::move(FParts[index]);
  lock.Unlock();
  if (part.Error) std::rethrow_exception(part.Error);
  bool metBefore = false;
  for (const platform::TFileId& id : part.Walked) {
    if (!FWalkedBefore.contains(id) && walked.contains(id)) {
      metBefore = true;
      break;
    }
  }
  // A folder gone into by an earlier part is only named here: walked again with what came before.
  if (metBefore) return Walk(index, walked);
  walked.merge(part.Walked);
  return std::move(part.Sink);
}

std::optional<std::size_t> TIndexParts::ClaimNext() {
  if (FNext == FParts.size()) return std::nullopt;
  return FNext++;
}

TIndexParts::TPart TIndexParts::WalkPart(std::size_t index) const {
  TPart part;
  try {
    part.Walked = FWalkedBefore;
    part.Sink = Walk(index, part.Walked);
  } catch (...) {
    part.Error = std::current_exception();
  }
  part.Done = true;
  return part;
}

void TIndexParts::Keep(std::size_t index, TPart part) {
  FParts[index] = std::move(part);
  FPartDone.notify_all();
}

std::unique_ptr<TBodySink> TIndexParts::Walk(std::size_t index, TTreeWalk::TWalked& walked) const {
  auto sink = std::make_unique<TBodySink>(FSpace, FMemoryLimit);
  TFileIndexWriter writer(*sink, TFileIndexWriter::TKind::Part);
  std::string name;
  FWalk.AddFolder(writer, FIndexedFolder, FFolders[index], name, walked);
  writer.Finish();
  return sink;
}

void TIndexParts::Help() {
  platform::TLockGuard lock(FLock);
  while (!FStopping) {
    const std::optional<std::size_t> next = ClaimNext();
    if (!next) return;
    lock.Unlock();
    TPart part = WalkPart(*next);
    lock.Lock();
    Keep(*next, std::move(part));
  }
}
