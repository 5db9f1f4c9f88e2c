#include "publish/ThumbnailDiskCache.h"

#include "platform/CacheFolder.h"
#include "platform/FileSystem.h"
#include "platform/FindEntries.h"
#include "publish/Md5.h"

#include <algorithm>
#include <vector>

namespace {

// Each file begins with one line naming its source's size and time, then the JPEG.
std::string Stamp(std::int64_t size, std::time_t lastWrite) {
  return "velmora-thumbnail " + std::to_string(size) + " " + std::to_string(lastWrite) + "\n";
}

constexpr std::size_t kMaxThumbnailFile = 4 << 20;

}  // namespace

TThumbnailDiskCache::TThumbnailDiskCache(std::string folder, std::size_t maxBytes)
    : FFolder(std::move(folder)), FMaxBytes(maxBytes) {}

std::string TThumbnailDiskCache::FileName(const std::string& path, int box) const {
  return FFolder + Md5Hex(path + "\n" + std::to_string(box)) + ".jpg";
}

std::optional<std::string> TThumbnailDiskCache::Find(const std::string& path, std::int64_t size, std::time_t lastWrite,
                                                     int box) const {
  if (FFolder.empty()) return std::nullopt;
  std::string file;
  if (!platform::ReadTextFile(FileName(path, box), file, kMaxThumbnailFile)) return std::nullopt;
  const std::string stamp = Stamp(size, lastWrite);
  if (!file.starts_with(stamp) || file.size() == stamp.size()) return std::nullopt;
  return file.substr(stamp.size());
}

void TThumbnailDiskCache::Store(const std::string& path, std::int64_t size, std::time_t lastWrite, int box,
                                const std::string& thumbnail) {
  if (FFolder.empty() || !platform::ForceFolders(FFolder)) return;
  const std::string name = FileName(path, box);
  const std::string file = Stamp(size, lastWrite) + thumbnail;
  const platform::TFileInfo old = platform::GetFileInfo(name);
  if (!platform::WriteFileAtomically(name, file)) return;
  platform::TLockGuard guard(FLock);
  if (!FBytes) return Trim();
  *FBytes += file.size();
  if (old.Readable()) *FBytes -= std::min<std::size_t>(*FBytes, static_cast<std::size_t>(old.Size));
  if (*FBytes > FMaxBytes) Trim();
}

void TThumbnailDiskCache::Trim() {
  std::vector<platform::TSearchRec> files = platform::FindEntries(FFolder, "*.jpg", platform::faAnyFile & ~platform::faDirectory);
  std::size_t total = 0;
  for (const platform::TSearchRec& file : files) total += static_cast<std::size_t>(file.Size);
  // Down to nine tenths of the bound, so that the next few stores do not trim again.
  if (total > FMaxBytes) {
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.LastWrite < b.LastWrite; });
    for (const platform::TSearchRec& file : files) {
      if (total <= FMaxBytes / 10 * 9) break;
      if (platform::RemoveFile(FFolder + file.Name)) total -= static_cast<std::size_t>(file.Size);
    }
  }
  FBytes = total;
}
