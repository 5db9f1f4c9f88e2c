#pragma once
// The subfolders of an indexed folder, each walked into a part of the index document, by the
// building thread and by helper threads at once.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Lock.h"
#include "publish/BodySink.h"
#include "publish/TreeWalk.h"

/// The parts of one index document: for each subfolder of the indexed folder, its "Folder"
/// element with everything below it, encoded as the document is (TFileIndexWriter's part
/// writer), each in a sink of its own (so a large part goes to a temporary file). Helper threads
/// walk the parts in order from the first one on; the building thread takes them in the same
/// order, and walks the next part nobody has begun yet itself whenever the one it needs is not
/// ready. Reading folders is most of an index's time, and this is how an index uses more than
/// one core. A part is walked as if it were the first, so it may go into a folder that an
/// earlier part went into already; the building thread, which knows every folder gone into
/// before, walks such a part again itself. So the document is the one a single thread would
/// write, whatever the helpers did. Made, used and destroyed by one thread, the building one.
class TIndexParts {
public:
  /// folders: the subfolders of indexedFolder, in the document's order; walked: the folders gone
  /// into before the parts (the indexed folder). Parts are written to sinks charged to space,
  /// each holding up to memoryLimit bytes in memory. Starts up to helpers threads when there are
  /// two parts or more; with fewer threads than asked (or none, when the system has none to give)
  /// the building thread walks what is left.
  TIndexParts(const TTreeWalk& walk, std::string indexedFolder, std::vector<platform::TSearchRec> folders,
              TTreeWalk::TWalked walked, TTempSpace& space, std::size_t memoryLimit, std::size_t helpers);
  /// Lets the helpers stop at their next folder and waits for them.
  ~TIndexParts();
  TIndexParts(const TIndexParts&) = delete;
  TIndexParts& operator=(const TIndexParts&) = delete;

  /// The part of folders[index]; each is taken once, in order. walked holds every folder gone
  /// into by the document so far, and grows by those of the part. Throws what walking it threw.
  std::unique_ptr<TBodySink> Take(std::size_t index, TTreeWalk::TWalked& walked);

private:
  struct TPart {
    bool Done = false;
    std::unique_ptr<TBodySink> Sink;
    TTreeWalk::TWalked Walked;  // the folders the part went into
    std::exception_ptr Error;
  };

  // The next part nobody has begun, now taken by the caller; none when every part is begun.
  std::optional<std::size_t> ClaimNext() REQUIRES(FLock);
  // Walks a claimed part (without the lock), into what Keep stores.
  TPart WalkPart(std::size_t index) const;
  // Stores a walked part and wakes whoever waits for it.
  void Keep(std::size_t index, TPart part) REQUIRES(FLock);
  std::unique_ptr<TBodySink> Walk(std::size_t index, TTreeWalk::TWalked& walked) const;
  void Help();

  std::atomic<bool> FStopping{false};  // polled by the walks
  const TTreeWalk FWalk;
  const std::string FIndexedFolder;
  const std::vector<platform::TSearchRec> FFolders;
  const TTreeWalk::TWalked FWalkedBefore;
  TTempSpace& FSpace;
  const std::size_t FMemoryLimit;

  platform::TLock FLock;
  std::condition_variable FPartDone;  // a part was kept
  std::vector<TPart> FParts GUARDED_BY(FLock);
  std::size_t FNext GUARDED_BY(FLock) = 0;  // the first part nobody has begun

  std::vector<std::thread> FHelpers;
};
