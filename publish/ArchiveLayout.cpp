#include "publish/ArchiveLayout.h"

#include <algorithm>
#include <cstdio>

#include "http/net/IdException.h"
#include "platform/Text.h"
#include "publish/TarHeaders.h"
#include "publish/ZipHeaders.h"

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// Far beyond any disk, and far enough from the limit of the offsets that no sum overflows.
constexpr std::int64_t kLargestArchive = std::int64_t{1} << 62;
constexpr char kZeros[2 * kTarBlock] = {};  // tar's padding and its two end blocks

TZipEntryFacts ZipFacts(const TArchiveEntry& entry, std::string_view name, std::int64_t localOffset) {
  TZipEntryFacts facts;
  facts.Name = name;
  facts.Folder = entry.Folder;
  facts.Size = entry.Folder ? 0 : entry.Size;
  facts.LastWriteNs = entry.LastWriteNs;
  facts.LocalOffset = localOffset;
  return facts;
}

// The CRC-32 of an entry's data; an entry without data needs no reading.
std::uint32_t CrcOf(const TArchiveEntry& entry, ICrcSource& crc) { return entry.Size == 0 ? 0 : crc.CrcOf(entry); }

// Two independent 64-bit hashes over the same bytes: a 128-bit fingerprint of the layout.
class TFingerprint {
public:
  void Add(std::string_view bytes) {
    AddNumber(bytes.size());  // so that "ab"+"c" and "a"+"bc" differ
    for (char c : bytes) AddByte(static_cast<unsigned char>(c));
  }
  void AddNumber(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) AddByte((value >> (8 * i)) & 0xFF);
  }
  std::string Hex() const {
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(FFnv),
                  static_cast<unsigned long long>(FMix));
    return text;
  }

private:
  void AddByte(std::uint64_t byte) {
    FFnv = (FFnv ^ byte) * 0x100000001b3ULL;
    FMix = (FMix ^ (byte + 0x9e3779b97f4a7c15ULL)) * 0xff51afd7ed558ccdULL;
    FMix ^= FMix >> 29;
  }
  std::uint64_t FFnv = 0xcbf29ce484222325ULL;
  std::uint64_t FMix = 0x2545f4914f6cdd1dULL;
};

}  // namespace

/// Sends the parts of the archive that fall in [first, end), in order. Parts are offered in
/// archive order; one outside the range costs nothing, not even making its bytes.
class TArchiveLayout::TRangeWriter {
public:
  TRangeWriter(IArchiveOutput& output, std::int64_t first, std::int64_t count)
      : FOutput(output), FPosition(first), FEnd(first + count) {}

  bool Done() const { return FPosition >= FEnd; }
  std::int64_t Position() const { return FPosition; }

  /// Bytes made in memory by make() (called only when the part overlaps the range).
  template <class TMake>
  void Bytes(std::int64_t start, std::int64_t length, TMake make) {
    if (!Overlaps(start, length)) return;
    const std::string bytes = make();
    // A record whose length differs from the layout's would shift every byte after it.
    if (static_cast<std::int64_t>(bytes.size()) != length) throw EIdException("Archive record length changed.");
    Send(start, length, [&](std::int64_t from, std::int64_t n) {
      FOutput.WriteBytes(std::string_view(bytes).substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n)));
    });
  }

  void Zeros(std::int64_t start, std::int64_t length) {
    if (!Overlaps(start, length)) return;
    Send(start, length, [&](std::int64_t from, std::int64_t n) {
      FOutput.WriteBytes(std::string_view(kZeros + from, static_cast<std::size_t>(n)));
    });
  }

  void File(const TArchiveEntry& entry, std::int64_t start) {
    if (!Overlaps(start, entry.Size)) return;
    Send(start, entry.Size, [&](std::int64_t from, std::int64_t n) { FOutput.WriteFileRange(entry, from, n); });
  }

private:
  bool Overlaps(std::int64_t start, std::int64_t length) const {
    return length > 0 && start < FEnd && start + length > FPosition;
  }

  // Sends the overlap of [start, start + length) with the range, from FPosition on.
  template <class TSend>
  void Send(std::int64_t start, std::int64_t length, TSend send) {
    const std::int64_t from = FPosition - start;
    const std::int64_t n = std::min(start + length, FEnd) - FPosition;
    send(from, n);
    FPosition += n;
  }

  IArchiveOutput& FOutput;
  std::int64_t FPosition;
  const std::int64_t FEnd;
};

TArchiveLayout::TArchiveLayout(TArchiveFormat format, std::vector<TArchiveEntry> entries)
    : FFormat(format), FCodePage(platform::SystemCodePage()), FEntries(std::move(entries)) {
  TFingerprint fingerprint;
  fingerprint.AddNumber(format == TArchiveFormat::Zip ? 1 : 2);
  FOffsets.reserve(FEntries.size() + 1);
  std::int64_t offset = 0;
  for (TArchiveEntry& entry : FEntries) {
    if (entry.Size < 0 || entry.Size > kLargestArchive - offset) throw EIdException("Archive too large: " + entry.Path);
    if (entry.Folder) entry.Size = 0;
    FOffsets.push_back(offset);
    const std::string name = ArchiveName(entry);
    if (format == TArchiveFormat::Zip) {
      if (name.size() > kZipMaxNameLength) throw EIdException("Name too long for a zip archive: " + entry.Path);
      offset += static_cast<std::int64_t>(ZipLocalHeader(ZipFacts(entry, name, offset)).size()) + entry.Size;
    } else {
      offset += TarHeaderSize(name, entry.Size, entry.LastWriteNs) + entry.Size + TarPadding(entry.Size);
    }
    fingerprint.Add(entry.Path);
    fingerprint.AddNumber(entry.Folder);
    fingerprint.AddNumber(static_cast<std::uint64_t>(entry.Size));
    fingerprint.AddNumber(static_cast<std::uint64_t>(entry.LastWriteNs));
    fingerprint.AddNumber(entry.Id.Device);
    fingerprint.AddNumber(entry.Id.Inode);
    const std::int64_t seconds = entry.LastWriteNs / kNsPerSecond - (entry.LastWriteNs % kNsPerSecond < 0 ? 1 : 0);
    FNewestLastWrite = std::max(FNewestLastWrite, seconds);
  }
  FOffsets.push_back(offset);

  if (format == TArchiveFormat::Zip) {
    FCentralOffsets.reserve(FEntries.size() + 1);
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
      FCentralOffsets.push_back(offset);
      const std::string name = ArchiveName(FEntries[i]);
      offset += static_cast<std::int64_t>(ZipCentralRecord(ZipFacts(FEntries[i], name, FOffsets[i])).size());
    }
    FCentralOffsets.push_back(offset);
    const std::int64_t centralOffset = FOffsets.back();
    offset += static_cast<std::int64_t>(
        ZipEndRecords(static_cast<std::int64_t>(FEntries.size()), centralOffset, offset - centralOffset).size());
  } else {
    offset += 2 * kTarBlock;
  }
  FSize = offset;
  fingerprint.AddNumber(static_cast<std::uint64_t>(FSize));

  char sizeText[17];
  std::snprintf(sizeText, sizeof sizeText, "%llx", static_cast<unsigned long long>(FSize));
  FETag = std::string("\"") + (format == TArchiveFormat::Zip ? "zip-" : "tar-") + sizeText + "-" + fingerprint.Hex() + "\"";
}

// An entry's name inside the archive: UTF-8 (U+FFFD for what is no character of the code page),
// a folder's with a trailing "/".
std::string TArchiveLayout::ArchiveName(const TArchiveEntry& entry) const {
  std::string name = platform::CodePageToUtf8(entry.Path, FCodePage);
  if (entry.Folder) name += '/';
  return name;
}

std::string TArchiveLayout::TarHeader(const TArchiveEntry& entry) const {
  return TarHeaderBlocks(ArchiveName(entry), entry.Folder, entry.Size, entry.LastWriteNs);
}

TArchiveFormat TArchiveLayout::Format() const { return FFormat; }

const std::vector<TArchiveEntry>& TArchiveLayout::Entries() const { return FEntries; }

std::int64_t TArchiveLayout::Size() const { return FSize; }

std::string TArchiveLayout::ETag() const { return FETag; }

std::int64_t TArchiveLayout::NewestLastWrite() const { return FNewestLastWrite; }

std::int64_t TArchiveLayout::DataEnd(std::size_t index) const {
  const std::int64_t next = FOffsets[index + 1];
  return FFormat == TArchiveFormat::Tar ? next - TarPadding(FEntries[index].Size) : next;
}

void TArchiveLayout::Write(IArchiveOutput& output, ICrcSource& crc, std::int64_t first, std::int64_t count) const {
  if (first < 0 || count < 0 || count > FSize - first) throw EIdException("Archive range out of bounds.");
  TRangeWriter writer(output, first, count);
  WriteEntries(writer, crc);
  if (FFormat == TArchiveFormat::Zip) {
    WriteZipTrailer(writer, crc);
  } else {
    writer.Zeros(FOffsets.back(), 2 * kTarBlock);
  }
}

void TArchiveLayout::WriteEntries(TRangeWriter& writer, ICrcSource& crc) const {
  // The first entry touched: the last one that begins at or before the range.
  const auto firstEntry = std::upper_bound(FOffsets.begin(), FOffsets.end() - 1, writer.Position()) - FOffsets.begin();
  for (std::size_t i = firstEntry == 0 ? 0 : static_cast<std::size_t>(firstEntry - 1); i < FEntries.size() && !writer.Done(); ++i) {
    const TArchiveEntry& entry = FEntries[i];
    const std::int64_t dataStart = DataStart(i);
    writer.Bytes(FOffsets[i], dataStart - FOffsets[i], [&] {
      if (FFormat == TArchiveFormat::Tar) return TarHeader(entry);
      const std::string name = ArchiveName(entry);
      TZipEntryFacts facts = ZipFacts(entry, name, FOffsets[i]);
      facts.Crc = CrcOf(entry, crc);
      return ZipLocalHeader(facts);
    });
    writer.File(entry, dataStart);
    writer.Zeros(DataEnd(i), FOffsets[i + 1] - DataEnd(i));
  }
}

void TArchiveLayout::WriteZipTrailer(TRangeWriter& writer, ICrcSource& crc) const {
  const auto firstRecord =
      std::upper_bound(FCentralOffsets.begin(), FCentralOffsets.end() - 1, writer.Position()) - FCentralOffsets.begin();
  for (std::size_t i = firstRecord == 0 ? 0 : static_cast<std::size_t>(firstRecord - 1); i < FEntries.size() && !writer.Done(); ++i) {
    writer.Bytes(FCentralOffsets[i], FCentralOffsets[i + 1] - FCentralOffsets[i], [&] {
      const std::string name = ArchiveName(FEntries[i]);
      TZipEntryFacts facts = ZipFacts(FEntries[i], name, FOffsets[i]);
      facts.Crc = CrcOf(FEntries[i], crc);
      return ZipCentralRecord(facts);
    });
  }
  const std::int64_t centralOffset = FOffsets.back();
  const std::int64_t endOffset = FCentralOffsets.back();
  writer.Bytes(endOffset, FSize - endOffset, [&] {
    return ZipEndRecords(static_cast<std::int64_t>(FEntries.size()), centralOffset, endOffset - centralOffset);
  });
}
