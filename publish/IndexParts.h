#pragma once
// The subfolders of an indexed folder, each walked into a part of the index document, by the
// building thread and by helper threads at once.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "publish/IndexWalk.h"

/// The parts of one index document: for each subfolder of the indexed folder, its "Folder"
/// element with everything below it, encoded as the document is (TFileIndexWriter's part
/// writer). Helper threads walk the parts in order from the first one on; the building thread
/// takes them in the same order, and walks the next part nobody has begun yet itself whenever
/// the one it needs is not ready. Reading folders is most of an index's time, and this is how
/// an index uses more than one core. Made, used and destroyed by one thread, the building one.
class TIndexParts {
public:
  /// folders: the subfolders of indexedFolder, in the document's order; path: the folders down
  /// to indexedFolder, itself included (empty when it cannot be read). Starts up to helpers
  /// threads when there are two parts or more; with fewer threads than asked (or none, when the
  /// system has none to give) the building thread walks what is left.
  TIndexParts(std::uint32_t withheldMask, std::string indexedFolder, std::vector<platform::TSearchRec> folders,
              TIndexWalk::TPath path, std::size_t helpers);
  /// Lets the helpers stop at their next folder and waits for them.
  ~TIndexParts();
  TIndexParts(const TIndexParts&) = delete;
  TIndexParts& operator=(const TIndexParts&) = delete;

  /// The part of folders[index]; each is taken once, in order. Throws what walking it threw.
  std::string Take(std::size_t index);

private:
  struct TPart {
    bool Done = false;
    std::string Text;
    std::exception_ptr Error;
  };

  // Walks the next part nobody has begun, if there is one, and keeps it. lock is held on entry
  // and on return, but not while walking. Returns false when every part is begun already.
  bool WalkNext(std::unique_lock<std::mutex>& lock);
  std::string Walk(std::size_t index) const;
  void Help();

  std::atomic<bool> FStopping{false};  // polled by the walks
  const TIndexWalk FWalk;
  const std::string FIndexedFolder;
  const std::vector<platform::TSearchRec> FFolders;
  const TIndexWalk::TPath FPath;

  // State below is guarded by FLock.
  std::mutex FLock;
  std::condition_variable FPartDone;
  std::vector<TPart> FParts;
  std::size_t FNext = 0;  // the first part nobody has begun

  std::vector<std::thread> FHelpers;
};
