#include "publish/CrcCache.h"


#include "platform/FileSystem.h"
#include "platform/CacheFolder.h"
#include "publish/Crc32.h"

namespace {

// The file: this magic, then one record per entry, most recent first, then the CRC-32 of all
// bytes before it. Numbers little-endian.
constexpr std::string_view kMagic = "VelmoraCrc32 v1\n";
constexpr std::size_t kRecordSize = 4 * 8 + 4;

void PutNumber(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetNumber(const char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

}  // namespace

std::size_t TCrcCache::TKeyHash::operator()(const TCrcKey& key) const {
  std::uint64_t h = key.Inode * 0x9e3779b97f4a7c15ULL;
  h ^= key.Device + 0x632be59bd9b4e019ULL + (h << 6) + (h >> 2);
  h ^= static_cast<std::uint64_t>(key.Size) + (h << 6) + (h >> 2);
  h ^= static_cast<std::uint64_t>(key.LastWriteNs) + (h << 6) + (h >> 2);
  return static_cast<std::size_t>(h);
}

TCrcCache::TCrcCache(std::string filePath, std::size_t capacity)
    : FFilePath(std::move(filePath)), FCapacity(capacity == 0 ? 1 : capacity) {}

TCrcCache::~TCrcCache() { Save(); }

std::string TCrcCache::DefaultFilePath() {
  const std::string folder = platform::UserCacheFolder("velmora");
  return folder.empty() ? folder : folder + "crc32.cache";
}

std::optional<std::uint32_t> TCrcCache::Find(const TCrcKey& key) {
  const std::lock_guard<std::mutex> lock(FLock);
  LoadOnceLocked();
  const auto found = FIndex.find(key);
  if (found == FIndex.end()) return std::nullopt;
  FOrder.splice(FOrder.begin(), FOrder, found->second);
  return found->second->Crc;
}

void TCrcCache::Put(const TCrcKey& key, std::uint32_t crc) {
  const std::lock_guard<std::mutex> lock(FLock);
  LoadOnceLocked();
  PutLocked(key, crc);
  FChanged = true;
}

void TCrcCache::PutLocked(const TCrcKey& key, std::uint32_t crc) {
  if (const auto found = FIndex.find(key); found != FIndex.end()) {
    found->second->Crc = crc;
    FOrder.splice(FOrder.begin(), FOrder, found->second);
    return;
  }
  if (FIndex.size() >= FCapacity) {
    FIndex.erase(FOrder.back().Key);
    FOrder.pop_back();
  }
  FOrder.push_front({key, crc});
  FIndex.emplace(key, FOrder.begin());
}

std::size_t TCrcCache::Count() {
  const std::lock_guard<std::mutex> lock(FLock);
  LoadOnceLocked();
  return FIndex.size();
}

void TCrcCache::LoadOnceLocked() {
  if (FLoaded || FFilePath.empty()) return;
  FLoaded = true;
  std::string bytes;
  // One byte over the largest valid file tells a longer (foreign) file from a valid one.
  const std::size_t largest = kMagic.size() + FCapacity * kRecordSize + 4;
  if (!platform::ReadTextFile(FFilePath, bytes, largest + 1)) return;
  if (bytes.size() < kMagic.size() + 4 || bytes.size() > largest || bytes.compare(0, kMagic.size(), kMagic) != 0 ||
      (bytes.size() - kMagic.size() - 4) % kRecordSize != 0) {
    return;
  }
  const std::size_t bodyEnd = bytes.size() - 4;
  if (GetNumber(bytes.data() + bodyEnd, 4) != Crc32Of(std::string_view(bytes).substr(0, bodyEnd))) return;

  // Oldest first, so that the file's order of use is restored.
  for (std::size_t at = bodyEnd; at > kMagic.size();) {
    at -= kRecordSize;
    const char* record = bytes.data() + at;
    const TCrcKey key{GetNumber(record, 8), GetNumber(record + 8, 8), static_cast<std::int64_t>(GetNumber(record + 16, 8)),
                      static_cast<std::int64_t>(GetNumber(record + 24, 8))};
    PutLocked(key, static_cast<std::uint32_t>(GetNumber(record + 32, 4)));
  }
}

bool TCrcCache::Save() {
  if (FFilePath.empty()) return true;
  std::string bytes;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    if (!FChanged) return true;
    bytes.reserve(kMagic.size() + FOrder.size() * kRecordSize + 4);
    bytes += kMagic;
    for (const TRecord& record : FOrder) {
      PutNumber(bytes, record.Key.Device, 8);
      PutNumber(bytes, record.Key.Inode, 8);
      PutNumber(bytes, static_cast<std::uint64_t>(record.Key.Size), 8);
      PutNumber(bytes, static_cast<std::uint64_t>(record.Key.LastWriteNs), 8);
      PutNumber(bytes, record.Crc, 4);
    }
    FChanged = false;
  }
  PutNumber(bytes, Crc32Of(bytes), 4);
  if (platform::WriteFileAtomically(FFilePath, bytes)) return true;
  const std::lock_guard<std::mutex> lock(FLock);
  FChanged = true;  // try again at the next save
  return false;
}
