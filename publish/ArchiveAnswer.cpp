#include "publish/ArchiveAnswer.h"

#include <utility>

#include "http/io/IdFileStream.h"
#include "http/protocol/IdHTTPFileAnswer.h"
#include "platform/FilePath.h"
#include "platform/ReadOnlyFile.h"
#include "platform/Text.h"
#include "publish/ArchiveEntryFile.h"
#include "publish/RootPath.h"

namespace {

// Bytes collected before they are sent: the headers of many small entries leave together.
constexpr std::int64_t kCollectedBytes = 256 * 1024;
// Files up to this size are read and collected with the headers around them; larger ones go
// through the platform's file transmit call.
constexpr std::int64_t kCopiedFileBytes = 64 * 1024;

// Collects the walk's entries with their disk paths and their paths inside the archive.
class TEntryCollector : public ITreeVisitor {
public:
  TEntryCollector(std::vector<TArchiveEntry>& entries, std::string folder, std::string topName)
      : FEntries(entries) {
    FFolders.push_back({std::move(folder), std::move(topName)});
  }

  void AddFile(std::string_view, const platform::TSearchRec& file) override {
    // A file that cannot be read would stop every download of the folder at the same place;
    // only regular files are ever opened for sending.
    const bool regular = (file.Attr & platform::faArchive) != 0;
    if (regular && platform::MayReadFile(platform::JoinPath(FFolders.back().Disk, file.Name))) Add(file, false);
  }
  void StartFolder(std::string_view, const platform::TSearchRec& folder) override {
    Add(folder, true);
    FFolders.push_back({FEntries.back().DiskPath, FEntries.back().Path});
  }
  void EndFolder() override { FFolders.pop_back(); }

private:
  struct TFolder {
    std::string Disk;
    std::string Archive;
  };

  void Add(const platform::TSearchRec& found, bool folder) {
    const TFolder& parent = FFolders.back();
    TArchiveEntry& entry = FEntries.emplace_back();
    entry.Path = parent.Archive + "/" + found.Name;
    entry.Folder = folder;
    entry.Size = folder ? 0 : found.Size;
    entry.LastWriteNs = found.LastWriteNs;
    entry.Id = found.Id;
    entry.DiskPath = platform::JoinPath(parent.Disk, found.Name);
  }

  std::vector<TArchiveEntry>& FEntries;
  std::vector<TFolder> FFolders;  // the folders the walk is in, the walked folder first
};

// The archive's bytes over a connection: literal bytes collected and sent in large pieces, file
// data checked against its entry before and after it is sent, so that a file written meanwhile
// stops the archive instead of going out under the length promised.
class TConnectionOutput : public IArchiveOutput {
public:
  explicit TConnectionOutput(TIdTCPConnection& connection) : FConnection(connection) {
    FConnection.BeginBufferedWrite(kCollectedBytes);
  }
  ~TConnectionOutput() override {
    // Left by an error: what was collected is not sent after a gap.
    if (FConnection.BufferedWriting()) {
      FConnection.DiscardBufferedWrite();
      FConnection.EndBufferedWrite();
    }
  }
  TConnectionOutput(const TConnectionOutput&) = delete;
  TConnectionOutput& operator=(const TConnectionOutput&) = delete;

  void Finish() { FConnection.EndBufferedWrite(); }

  void WriteBytes(std::string_view bytes) override {
    FConnection.WriteBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }

  void WriteFileRange(const TArchiveEntry& entry, std::int64_t offset, std::int64_t count) override {
    TIdReadOnlyFileStream stream(entry.DiskPath);
    const platform::TReadOnlyFile& file = stream.File();
    CheckOpenedAsWalked(entry, file);
    if (count <= kCopiedFileBytes) {
      FCopy.resize(static_cast<std::size_t>(count));
      if (file.ReadAt(FCopy.data(), FCopy.size(), offset) != FCopy.size()) ThrowEntryChanged(entry);
      CheckUnchangedSinceOpen(entry, file);
      WriteBytes(FCopy);
      return;
    }
    FConnection.EndBufferedWrite();
    FConnection.WriteFileRange(stream, offset, count, true);
    // Sent already: a change now still ends the answer short, so the client knows.
    CheckUnchangedSinceOpen(entry, file);
    FConnection.BeginBufferedWrite(kCollectedBytes);
  }

private:
  TIdTCPConnection& FConnection;
  std::string FCopy;
};

}  // namespace

std::optional<TArchiveFormat> ArchiveFormatOf(std::string_view query) {
  if (query == "zip") return TArchiveFormat::Zip;
  if (query == "tar") return TArchiveFormat::Tar;
  return std::nullopt;
}

std::string ArchiveTopName(const std::string& folder) {
  const std::string path = WithoutTrailingSlash(folder);
  if (path == "/" || path.empty()) return "root";
  return path.substr(path.rfind('/') + 1);
}

std::vector<TArchiveEntry> CollectArchiveEntries(const TTreeWalk& walk, const std::string& folder,
                                                 const std::string& topName) {
  // Its own copy: the entries grow while the walk reads below it.
  const std::string diskFolder = WithoutTrailingSlash(folder);
  const platform::TFileInfo top = platform::GetFileInfo(diskFolder);
  std::vector<TArchiveEntry> entries;
  TArchiveEntry& first = entries.emplace_back();
  first.Path = topName;
  first.Folder = true;
  first.LastWriteNs = top.LastWriteNs;
  first.Id = top.Id;
  first.DiskPath = diskFolder;

  TEntryCollector collector(entries, diskFolder, topName);
  TTreeWalk::TWalked walked;
  if (top.Readable()) walked.insert(top.Id);
  std::string name;
  walk.AddFolderEntries(collector, diskFolder, name, walked);
  return entries;
}

void SendArchiveAnswer(TIdTCPConnection& connection, const TIdHTTPRequestInfo& request,
                       TIdHTTPResponseInfo& response, const TArchiveLayout& layout, ICrcSource& crc,
                       std::string_view fileName) {
  const std::int64_t size = layout.Size();
  const std::string tag = layout.ETag();
  const std::int64_t newest = layout.NewestLastWrite();
  const platform::TDateTime lastModified = newest > 0 ? LastModifiedOf(newest) : 0;
  const TIdFileAnswer answer = PlanFileAnswer(request, size, newest > 0 ? platform::UtcDateTime(newest) : 0, tag);
  response.ContentType = layout.Format() == TArchiveFormat::Zip ? "application/zip" : "application/x-tar";
  response.AcceptRanges = "bytes";
  response.LastModified = lastModified;
  response.CustomHeaders.Add("ETag: " + tag);
  response.ContentDisposition = ContentDispositionOf(fileName, "attachment");
  DescribeRangeAnswer(response, answer, size);
  if (answer.StatusCode != 200 && answer.StatusCode != 206) return;
  if (request.Command == "HEAD") {
    response.WriteHead();
    return;
  }
  TConnectionOutput output(connection);
  response.WriteHead();
  // The head goes at once: a zip's first checksum may take a while to read.
  connection.FlushBufferedWrite();
  layout.Write(output, crc, answer.Offset, answer.Count);
  output.Finish();
}
