#pragma once
// Archives of made-up files, without disk: each file's bytes follow from its path and offset,
// so an archive of any size can be written, and libarchive reads it back through callbacks that
// ask the layout for the ranges it wants (seeking, as it does for zip's central directory).

#include <archive.h>
#include <archive_entry.h>

#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "publish/ArchiveLayout.h"
#include "publish/Crc32.h"

namespace archivetest {

/// Bytes [offset, offset + count) of a made-up file: different for every path and offset.
inline std::string FakeData(const TArchiveEntry& entry, std::int64_t offset, std::int64_t count) {
  const std::uint64_t seed = Crc32Of(entry.Path);
  std::string data(static_cast<std::size_t>(count), '\0');
  for (std::int64_t i = 0; i < count; ++i) {
    const auto at = static_cast<std::uint64_t>(offset + i);
    data[static_cast<std::size_t>(i)] = static_cast<char>((at * 131 + seed + (at >> 12) * 7) & 0xFF);
  }
  return data;
}

/// Checksums of made-up files; files over checkedLimit bytes get 0 (too big to compute in a
/// test, and readers check a checksum only when they read the data). Counts its calls.
class TFakeCrc : public ICrcSource {
public:
  explicit TFakeCrc(std::int64_t checkedLimit = 1 << 24) : FLimit(checkedLimit) {}
  std::uint32_t CrcOf(const TArchiveEntry& entry) override {
    ++Calls;
    return entry.Size > FLimit ? 0 : Crc32Of(FakeData(entry, 0, entry.Size));
  }
  int Calls = 0;

private:
  std::int64_t FLimit;
};

/// Collects an archive's bytes in memory, the made-up file data included.
class TStringOutput : public IArchiveOutput {
public:
  void WriteBytes(std::string_view bytes) override { Bytes += bytes; }
  void WriteFileRange(const TArchiveEntry& entry, std::int64_t offset, std::int64_t count) override {
    Bytes += FakeData(entry, offset, count);
  }
  std::string Bytes;
};

/// Counts what an archive sends without keeping file data: any size fits.
class TCountingOutput : public IArchiveOutput {
public:
  void WriteBytes(std::string_view bytes) override { Written += static_cast<std::int64_t>(bytes.size()); }
  void WriteFileRange(const TArchiveEntry&, std::int64_t, std::int64_t count) override {
    Written += count;
    FileBytes += count;
  }
  std::int64_t Written = 0;
  std::int64_t FileBytes = 0;
};

inline std::string WholeArchive(const TArchiveLayout& layout) {
  TStringOutput output;
  TFakeCrc crc;
  layout.Write(output, crc, 0, layout.Size());
  return output.Bytes;
}

/// One entry as a reader found it.
struct TReadEntry {
  std::string Name;
  bool Folder = false;
  std::int64_t Size = 0;
  std::int64_t MtimeSeconds = 0;
  long MtimeNs = 0;
  bool DataRead = false;
  bool DataMatches = false;  // the made-up bytes of the layout's entry in the same place
};

/// The entries of the layout's archive as libarchive reads them; data up to dataLimit bytes per
/// file read and compared (zip checks the CRC-32 then). Throws std::runtime_error with
/// libarchive's message when it fails.
std::vector<TReadEntry> ReadBack(const TArchiveLayout& layout, std::int64_t dataLimit = 1 << 20);

namespace detail {

// An archive small enough is made once and read from memory; a larger one is written range by
// range as the reader asks (slow for many entries, as every range makes its records again).
constexpr std::int64_t kWholeLimit = 64 << 20;

struct TSource {
  const TArchiveLayout* Layout;
  TFakeCrc Crc;
  std::int64_t Position = 0;
  std::string Whole;
  std::string Buffer;
};

inline la_ssize_t Read(archive*, void* data, const void** buffer) {
  auto& source = *static_cast<TSource*>(data);
  const std::int64_t n = std::min<std::int64_t>(64 << 10, source.Layout->Size() - source.Position);
  if (source.Layout->Size() <= kWholeLimit) {
    *buffer = source.Whole.data() + source.Position;
  } else {
    TStringOutput output;
    if (n > 0) source.Layout->Write(output, source.Crc, source.Position, n);
    source.Buffer = std::move(output.Bytes);
    *buffer = source.Buffer.data();
  }
  source.Position += n;
  return static_cast<la_ssize_t>(n);
}

inline la_int64_t Seek(archive*, void* data, la_int64_t offset, int whence) {
  auto& source = *static_cast<TSource*>(data);
  const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source.Position : source.Layout->Size();
  source.Position = std::clamp<std::int64_t>(base + offset, 0, source.Layout->Size());
  return source.Position;
}

inline la_int64_t Skip(archive*, void* data, la_int64_t request) {
  auto& source = *static_cast<TSource*>(data);
  const std::int64_t n = std::min<std::int64_t>(request, source.Layout->Size() - source.Position);
  source.Position += n;
  return n;
}

}  // namespace detail

inline std::vector<TReadEntry> ReadBack(const TArchiveLayout& layout, std::int64_t dataLimit) {
  detail::TSource source{&layout, TFakeCrc{}, 0, {}, {}};
  if (layout.Size() <= detail::kWholeLimit) source.Whole = WholeArchive(layout);
  // UTF-8 names come out only under a UTF-8 locale; this thread's alone, for the read.
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  const locale_t previous = uselocale(utf8);
  archive* reader = archive_read_new();
  archive_read_support_format_zip(reader);
  archive_read_support_format_tar(reader);
  archive_read_set_option(reader, nullptr, "hdrcharset", "UTF-8");
  archive_read_set_read_callback(reader, detail::Read);
  archive_read_set_seek_callback(reader, detail::Seek);
  archive_read_set_skip_callback(reader, detail::Skip);
  archive_read_set_callback_data(reader, &source);
  std::vector<TReadEntry> entries;
  std::string error;
  if (archive_read_open1(reader) != ARCHIVE_OK) {
    error = archive_error_string(reader) ? archive_error_string(reader) : "open failed";
  }
  archive_entry* header = nullptr;
  int status = ARCHIVE_OK;
  while (error.empty() && (status = archive_read_next_header(reader, &header)) == ARCHIVE_OK) {
    TReadEntry entry;
    const char* name = archive_entry_pathname_utf8(header);
    entry.Name = name ? name : "";
    entry.Folder = archive_entry_filetype(header) == AE_IFDIR;
    entry.Size = archive_entry_size(header);
    entry.MtimeSeconds = archive_entry_mtime(header);
    entry.MtimeNs = archive_entry_mtime_nsec(header);
    if (!entry.Folder && entry.Size <= dataLimit) {
      std::string data(static_cast<std::size_t>(entry.Size), '\0');
      const la_ssize_t n = archive_read_data(reader, data.data(), data.size());
      if (n < 0) {
        error = archive_error_string(reader) ? archive_error_string(reader) : "read failed";
        break;
      }
      char extra;
      entry.DataRead = n == entry.Size && archive_read_data(reader, &extra, 1) == 0;
      // Entries come back in the layout's order.
      const std::size_t index = entries.size();
      entry.DataMatches = index < layout.Entries().size() && layout.Entries()[index].Size == entry.Size &&
                          data == FakeData(layout.Entries()[index], 0, entry.Size);
    }
    entries.push_back(std::move(entry));
  }
  if (error.empty() && status != ARCHIVE_EOF) {
    error = archive_error_string(reader) ? archive_error_string(reader) : "bad header";
    error += " (entry " + std::to_string(entries.size()) + ")";
  }
  archive_read_free(reader);
  uselocale(previous);
  freelocale(utf8);
  if (!error.empty()) throw std::runtime_error(error);
  return entries;
}

}  // namespace archivetest
