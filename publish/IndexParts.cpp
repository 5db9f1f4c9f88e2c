#include "publish/IndexParts.h"

#include <system_error>
#include <utility>

TIndexParts::TIndexParts(std::uint32_t withheldMask, std::string indexedFolder,
                         std::vector<platform::TSearchRec> folders, TIndexWalk::TPath path, std::size_t helpers)
    : FWalk(withheldMask, &FStopping),
      FIndexedFolder(std::move(indexedFolder)),
      FFolders(std::move(folders)),
      FPath(std::move(path)),
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

std::string TIndexParts::Take(std::size_t index) {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FParts[index].Done) {
    // Rather than wait for a helper, walk a part that comes later.
    if (!WalkNext(lock)) FPartDone.wait(lock);
  }
  TPart part = std::move(FParts[index]);
  if (part.Error) std::rethrow_exception(part.Error);
  return std::move(part.Text);
}

bool TIndexParts::WalkNext(std::unique_lock<std::mutex>& lock) {
  if (FNext == FParts.size()) return false;
  const std::size_t index = FNext++;
  lock.unlock();
  std::string text;
  std::exception_ptr error;
  try {
    text = Walk(index);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  FParts[index].Text = std::move(text);
  FParts[index].Error = error;
  FParts[index].Done = true;
  FPartDone.notify_all();
  return true;
}

std::string TIndexParts::Walk(std::size_t index) const {
  TFileIndexWriter writer(TFileIndexWriter::TKind::Part);
  std::string name;
  TIndexWalk::TPath path = FPath;
  FWalk.AddFolder(writer, FIndexedFolder, FFolders[index], name, path);
  return writer.Finish();
}

void TIndexParts::Help() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FStopping && WalkNext(lock)) {
  }
}
