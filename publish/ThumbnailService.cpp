#include "publish/ThumbnailService.h"

#include "http/net/IdException.h"
#include "http/protocol/IdHTTPFileAnswer.h"
#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdHTTPResponseInfo.h"
#include "http/server/IdPeerThread.h"
#include "platform/CacheFolder.h"
#include "platform/ChildProcess.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SocketHangup.h"
#include "publish/DesktopThumbnails.h"
#include "publish/ImageHeader.h"
#include "publish/JpegEncoder.h"
#include "publish/PngDecoder.h"
#include "publish/RootPath.h"
#include "publish/ThumbnailDiskCache.h"
#include "publish/Thumbnailer.h"

#include <algorithm>
#include <thread>

namespace {

// The start of a file that holds its image header; the header decides before anything waits.
constexpr std::size_t kHeadBytes = 64 << 10;
constexpr int kDefaultQueue = 64;
// The video program's bounds: a frame comes within seconds, in far less memory than this.
constexpr int kVideoTimeoutMs = 5000;
constexpr std::uint64_t kVideoMemory = std::uint64_t{2} << 30;
constexpr std::size_t kMaxVideoFrame = 8 << 20;

bool IsVideoName(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == "mp4" || extension == "webm" || extension == "mkv" || extension == "mov";
}

std::string ReadAll(const platform::TReadOnlyFile& file, std::size_t limit) {
  std::string data(limit, '\0');
  std::size_t done = 0;
  while (done < limit) {
    const std::size_t n = file.ReadAt(&data[done], limit - done, static_cast<std::int64_t>(done));
    if (n == 0) break;
    done += n;
  }
  data.resize(done);
  return data;
}

std::string EntityTag(std::int64_t size, std::time_t lastWrite, int box) {
  return "\"" + std::to_string(size) + "-" + std::to_string(lastWrite) + "-" + std::to_string(box) + "\"";
}

std::string CacheKey(const std::string& path, std::int64_t size, std::time_t lastWrite, int box) {
  return path + '\n' + std::to_string(size) + '\n' + std::to_string(lastWrite) + '\n' + std::to_string(box);
}

std::string DefaultFolder(const std::string& given, const char* below) {
  if (!given.empty()) return given.ends_with('/') ? given : given + "/";
  const std::string base = platform::UserCacheFolder();
  return base.empty() ? base : base + below;
}

}  // namespace

int ThumbnailBox(const std::string& queryText) {
  std::string_view rest = queryText;
  while (!rest.empty()) {
    const std::string_view part = rest.substr(0, rest.find('&'));
    rest.remove_prefix(std::min(rest.size(), part.size() + 1));
    if (part == "thumb" || part == "thumb=" || part == "thumb=320") return 320;
    if (part == "thumb=640") return 640;
    if (part.starts_with("thumb=")) return -1;
  }
  return 0;
}

TThumbnailService::TThumbnailService(TThumbnailOptions options)
    : FGate(options.Gate ? options.Gate
                         : std::make_shared<TThumbnailGate>(static_cast<int>(std::thread::hardware_concurrency()),
                                                            kDefaultQueue)),
      FMemory(options.MemoryBytes),
      FDiskFolder(DefaultFolder(options.CacheFolder, "velmora/thumbnails/")),
      FDesktopFolder(DefaultFolder(options.DesktopFolder, "thumbnails/")),
      FVideoProgram(platform::FindProgram(options.VideoProgram.empty() ? "ffmpegthumbnailer" : options.VideoProgram)) {
  FDisk = std::make_unique<TThumbnailDiskCache>(FDiskFolder, options.CacheBytes);
}

TThumbnailService::~TThumbnailService() = default;

bool TThumbnailService::Answer(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo,
                               TIdHTTPResponseInfo& AResponseInfo, const std::string& path, const std::string& root,
                               int box) {
  const platform::TReadOnlyFile file(path);
  if (!file.IsOpen() || box <= 0) return false;
  const std::int64_t size = file.SizeAtOpen();
  const std::time_t lastWrite = file.LastWriteAtOpen();
  const std::string tag = EntityTag(size, lastWrite, box);
  const platform::TDateTime lastModified = LastModifiedOf(lastWrite);
  // The client's copy is judged by the source file, by its tag or its date, as a file is: a
  // thumbnail changes only with it.
  const bool fresh = PlanFileAnswer(ARequestInfo, size, platform::UtcDateTime(lastWrite), tag).StatusCode == 304;
  TThumbnailMemoryCache::TEntry thumbnail;
  if (!fresh) {
    bool busy = false;
    thumbnail = Thumbnail(AThread, file, path, !IsInsideRoot(FDiskFolder, root), box, busy);
    if (busy) {
      AResponseInfo.SetStatusCode(503);
      AResponseInfo.RetryAfter = "1";
      AResponseInfo.BodyText = AResponseInfo.StatusPage();
      AResponseInfo.ContentType = "text/html";
      return true;
    }
    if (!thumbnail) return false;
  }
  AResponseInfo.SetStatusCode(fresh ? 304 : 200);
  AResponseInfo.LastModified = lastModified;
  AResponseInfo.CacheControl = "private, max-age=86400";
  AResponseInfo.CustomHeaders.PutValue("ETag", tag);
  if (fresh) {
    AResponseInfo.AssignContentLength(-1);
  } else {
    AResponseInfo.ContentType = "image/jpeg";
    AResponseInfo.BodyText = *thumbnail;
  }
  return true;
}

TThumbnailMemoryCache::TEntry TThumbnailService::Thumbnail(TIdPeerThread& AThread, const platform::TReadOnlyFile& file,
                                                           const std::string& path, bool diskCache, int box, bool& busy) {
  const std::int64_t size = file.SizeAtOpen();
  const std::time_t lastWrite = file.LastWriteAtOpen();
  const std::string key = CacheKey(path, size, lastWrite, box);
  if (auto found = FMemory.Find(key)) return found;
  if (diskCache) {
    if (auto stored = FDisk->Find(path, size, lastWrite, box)) {
      auto entry = std::make_shared<const std::string>(std::move(*stored));
      FMemory.Store(key, entry);
      return entry;
    }
  }
  // Refused from its header alone, before it waits for a slot: no image, or one too large.
  const bool video = IsVideoName(path);
  if (video && FVideoProgram.empty()) return nullptr;
  TImageHeader header;
  try {
    if (!video) header = CheckedImageHeader(ReadAll(file, kHeadBytes));
  } catch (const EIdImageError&) {
    return nullptr;
  }
  // An image file is read whole into memory; a video never is.
  if (!video && !WithinDecodeBudget(static_cast<std::uint64_t>(size), 0)) return nullptr;
  const int socket = AThread.Connection() != nullptr ? AThread.Connection()->SocketHandle() : -1;
  const TThumbnailGate::TResult entered = FGate->Enter([socket] { return platform::HasPeerHungUp(socket); });
  if (entered != TThumbnailGate::grEntered) {
    busy = true;
    return nullptr;
  }
  std::string made;
  {
    const TGateSlot slot(*FGate);
    try {
      const std::uint32_t longSide = video ? box : std::min<std::uint32_t>(box, std::max(header.Width, header.Height));
      const auto desktop = FindDesktopThumbnail(FDesktopFolder, path, lastWrite, longSide);
      if (desktop) made = EncodeJpeg(FitWithin(DecodePng(*desktop), box));
      else made = video ? VideoFrame(path, box) : MakeThumbnail(ReadAll(file, size), box);
    } catch (const EIdImageError&) {
      return nullptr;
    }
  }
  auto entry = std::make_shared<const std::string>(std::move(made));
  FMemory.Store(key, entry);
  // After the slot is given back: waiting for the disk holds up this answer only, not the decodes.
  if (diskCache) FDisk->Store(path, size, lastWrite, box, *entry);
  return entry;
}

std::string TThumbnailService::VideoFrame(const std::string& path, int box) const {
  std::string frame;
  // Arguments go to the program as they are: no shell sees the file's name.
  if (!platform::RunProgram({FVideoProgram, "-i", path, "-o", "-", "-c", "jpeg", "-q", "8", "-s", std::to_string(box)},
                            kVideoTimeoutMs, kVideoMemory, kMaxVideoFrame, frame))
    throw EIdImageError("No video frame");
  // The program's output is checked like any file: a frame in the box, or nothing.
  return MakeThumbnail(frame, box);
}
