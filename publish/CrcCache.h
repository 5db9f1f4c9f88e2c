#pragma once
// The CRC-32 of files already read, so that a resumed or repeated zip download does not read
// them again: a bounded least-recently-used table in memory, kept between runs in a cache file
// of the user (never in the published folder).

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

/// What a checksum is valid for: one version of one file.
struct TCrcKey {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = 0;
  std::int64_t LastWriteNs = 0;
  bool operator==(const TCrcKey&) const = default;
};

/// A bounded table of checksums, the least recently used dropped first. Loads its file when
/// first used, so that a server that sends no zip never holds it (up to about 14 MB when
/// full); Save() writes it back whole (a temporary file renamed over it). A cache file that is
/// corrupt, cut short or of another format is ignored. Any thread.
class TCrcCache {
public:
  static constexpr std::size_t kDefaultCapacity = 100'000;

  /// filePath: the cache file; empty for a table in memory only.
  explicit TCrcCache(std::string filePath, std::size_t capacity = kDefaultCapacity);
  /// Saves what changed, as Save().
  ~TCrcCache();
  TCrcCache(const TCrcCache&) = delete;
  TCrcCache& operator=(const TCrcCache&) = delete;

  /// The cache file of the user: "crc32.cache" in the program's folder of $XDG_CACHE_HOME
  /// (default ~/.cache), created when missing; empty when there is none.
  static std::string DefaultFilePath();

  /// The checksum stored for key, which becomes the most recently used; none when absent.
  std::optional<std::uint32_t> Find(const TCrcKey& key);
  void Put(const TCrcKey& key, std::uint32_t crc);
  std::size_t Count();

  /// Writes the table to the cache file when it changed since it was loaded or last saved.
  /// False when the file could not be written (the table stays as it is).
  bool Save();

private:
  struct TKeyHash {
    std::size_t operator()(const TCrcKey& key) const;
  };
  struct TRecord {
    TCrcKey Key;
    std::uint32_t Crc;
  };
  using TOrder = std::list<TRecord>;

  void LoadOnceLocked();  // FLock held
  void PutLocked(const TCrcKey& key, std::uint32_t crc);  // FLock held

  const std::string FFilePath;
  const std::size_t FCapacity;
  std::mutex FLock;
  TOrder FOrder;                                                  // guarded by FLock; most recent first
  std::unordered_map<TCrcKey, TOrder::iterator, TKeyHash> FIndex;  // guarded by FLock
  bool FChanged = false;                                          // guarded by FLock
  bool FLoaded = false;                                           // guarded by FLock
};
