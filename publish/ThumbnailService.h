#pragma once
// The "?thumb" answer for a file the server would send: a small JPEG of the image, made once
// behind a gate that bounds the decodes under way, and cached in memory and on disk.

#include "publish/ThumbnailGate.h"
#include "publish/ThumbnailMemoryCache.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

class TIdPeerThread;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;
class TThumbnailDiskCache;
namespace platform {
class TReadOnlyFile;
}

struct TThumbnailOptions {
  std::shared_ptr<TThumbnailGate> Gate;  // null: a slot per core and a line of 64 requests
  std::size_t MemoryBytes = 32 << 20;    // thumbnails kept in memory
  std::string CacheFolder;    // the disk cache; empty: $XDG_CACHE_HOME/velmora/thumbnails/
  std::size_t CacheBytes = 256 << 20;  // the disk cache's bound
  std::string DesktopFolder;  // the desktop's thumbnails, read only; empty: ~/.cache/thumbnails/
  std::string VideoProgram;   // makes video frames; empty: ffmpegthumbnailer from $PATH, if any
};

/// The box (320 or 640) a query asks a thumbnail in: "thumb" or "thumb=320" is 320, "thumb=640"
/// 640, any other value of "thumb" -1; 0 when the query has no "thumb" parameter. Any thread.
int ThumbnailBox(const std::string& queryText);

/// Makes and answers thumbnails. Shared by the connection threads; Answer may run on many at once.
class TThumbnailService {
public:
  explicit TThumbnailService(TThumbnailOptions options = {});
  ~TThumbnailService();

  /// Answers a GET or HEAD of the regular file path (already allowed) below root with its
  /// thumbnail in box: 200 with the JPEG, 304 when the client's copy is still good, 503 with
  /// Retry-After when too many wait already (or the client went away while waiting). Returns
  /// false, the response untouched, when there is no thumbnail: not an image, damaged, over the
  /// limits, unreadable. Nothing is written below root: a disk cache there is not used.
  /// Connection threads, many at once.
  bool Answer(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo,
              const std::string& path, const std::string& root, int box);

private:
  // The thumbnail of path (size and mtime as opened), from a cache or made now; null when there
  // is none. Sets busy when the gate turned it away.
  TThumbnailMemoryCache::TEntry Thumbnail(TIdPeerThread& AThread, const platform::TReadOnlyFile& file,
                                          const std::string& path, bool diskCache, int box, bool& busy);

  // A frame of the video at path through the video program; throws EIdImageError without one.
  std::string VideoFrame(const std::string& path, int box) const;

  std::shared_ptr<TThumbnailGate> FGate;
  TThumbnailMemoryCache FMemory;
  std::unique_ptr<TThumbnailDiskCache> FDisk;
  const std::string FDiskFolder;
  const std::string FDesktopFolder;
  const std::string FVideoProgram;  // empty: videos have no thumbnail
};
