#include "publish/ZipHeaders.h"

#include <algorithm>
#include <limits>

#include "platform/FileDate.h"
#include "publish/Crc32.h"

namespace {

constexpr std::int64_t kMax32 = 0xFFFFFFFF;  // also the mark "see the zip64 field"
constexpr std::int64_t kMax16 = 0xFFFF;
constexpr std::uint16_t kUtf8NamesFlag = 0x0800;
constexpr std::uint16_t kMadeByUnix = 0x0300 | 63;  // the host byte says the attributes are Unix modes

void Put16(std::string& out, std::uint64_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

void Put64(std::string& out, std::uint64_t value) {
  Put32(out, value & 0xFFFFFFFF);
  Put32(out, value >> 32);
}

// A 32-bit field, or its mark when the zip64 field holds the value.
std::uint64_t Field32(std::int64_t value) { return static_cast<std::uint64_t>(std::min(value, kMax32)); }

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool SizeNeedsZip64(const TZipEntryFacts& facts) { return facts.Size >= kMax32; }

std::uint16_t VersionNeeded(const TZipEntryFacts& facts, bool zip64) {
  if (zip64) return 45;
  return facts.Folder ? 20 : 10;
}

// Rounded down, also before 1970.
std::int64_t WholeSeconds(std::int64_t ns) { return ns / 1'000'000'000 - (ns % 1'000'000'000 < 0 ? 1 : 0); }

// The extended timestamp: the modification time in Unix seconds, kept to 0..2^31-1 since
// readers differ on whether the field is signed.
void PutTimestampField(std::string& out, std::int64_t lastWriteNs) {
  const std::int64_t seconds = std::clamp<std::int64_t>(WholeSeconds(lastWriteNs), 0, std::numeric_limits<std::int32_t>::max());
  Put16(out, 0x5455);
  Put16(out, 5);
  out += '\x01';  // the modification time only
  Put32(out, static_cast<std::uint64_t>(seconds));
}

// The Unicode path field: the name again, tied to the header's name by its CRC-32, for readers
// that ignore the UTF-8 flag. Pure ASCII names need none.
void PutUnicodePathField(std::string& out, std::string_view name) {
  if (IsAscii(name)) return;
  Put16(out, 0x7075);
  Put16(out, 5 + name.size());
  out += '\x01';
  Put32(out, Crc32Of(name));
  out += name;
}

// The DOS date and time (local, clamped to 1980-2107) in the order the records hold them.
void PutDosDateTime(std::string& out, std::int64_t lastWriteNs) {
  const auto packed = static_cast<std::uint32_t>(platform::FileDateFromTime(static_cast<std::time_t>(WholeSeconds(lastWriteNs))));
  Put16(out, packed & 0xFFFF);
  Put16(out, packed >> 16);
}

// Signature up to the name length: the part the local header and the central record share.
void PutCommonFields(std::string& out, const TZipEntryFacts& facts, bool zip64) {
  Put16(out, VersionNeeded(facts, zip64));
  Put16(out, kUtf8NamesFlag);
  Put16(out, 0);  // stored
  PutDosDateTime(out, facts.LastWriteNs);
  Put32(out, facts.Crc);
  Put32(out, Field32(facts.Size));  // compressed size: stored, so the same
  Put32(out, Field32(facts.Size));
  Put16(out, facts.Name.size());
}

}  // namespace

std::string ZipLocalHeader(const TZipEntryFacts& facts) {
  const bool zip64 = SizeNeedsZip64(facts);
  std::string extra;
  if (zip64) {  // a local header's zip64 field holds both sizes
    Put16(extra, 0x0001);
    Put16(extra, 16);
    Put64(extra, static_cast<std::uint64_t>(facts.Size));
    Put64(extra, static_cast<std::uint64_t>(facts.Size));
  }
  PutTimestampField(extra, facts.LastWriteNs);
  PutUnicodePathField(extra, facts.Name);

  std::string out;
  out.reserve(30 + facts.Name.size() + extra.size());
  Put32(out, 0x04034b50);
  PutCommonFields(out, facts, zip64);
  Put16(out, extra.size());
  out += facts.Name;
  out += extra;
  return out;
}

std::string ZipCentralRecord(const TZipEntryFacts& facts) {
  const bool sizeZip64 = SizeNeedsZip64(facts);
  const bool offsetZip64 = facts.LocalOffset >= kMax32;
  std::string extra;
  if (sizeZip64 || offsetZip64) {  // only the fields whose 32-bit field holds the mark, in order
    Put16(extra, 0x0001);
    Put16(extra, (sizeZip64 ? 16 : 0) + (offsetZip64 ? 8 : 0));
    if (sizeZip64) {
      Put64(extra, static_cast<std::uint64_t>(facts.Size));
      Put64(extra, static_cast<std::uint64_t>(facts.Size));
    }
    if (offsetZip64) Put64(extra, static_cast<std::uint64_t>(facts.LocalOffset));
  }
  PutTimestampField(extra, facts.LastWriteNs);
  PutUnicodePathField(extra, facts.Name);

  const bool zip64 = sizeZip64 || offsetZip64;
  std::string out;
  out.reserve(46 + facts.Name.size() + extra.size());
  Put32(out, 0x02014b50);
  Put16(out, kMadeByUnix);
  PutCommonFields(out, facts, zip64);
  Put16(out, extra.size());
  Put16(out, 0);  // comment length
  Put16(out, 0);  // disk number
  Put16(out, 0);  // internal attributes
  const std::uint32_t mode = facts.Folder ? 040755 : 0100644;
  Put32(out, (static_cast<std::uint64_t>(mode) << 16) | (facts.Folder ? 0x10 : 0));  // 0x10: the DOS folder bit
  Put32(out, Field32(facts.LocalOffset));
  out += facts.Name;
  out += extra;
  return out;
}

std::string ZipEndRecords(std::int64_t entryCount, std::int64_t centralOffset, std::int64_t centralSize) {
  const bool zip64 = entryCount > kMax16 || centralOffset >= kMax32 || centralSize >= kMax32;
  std::string out;
  if (zip64) {
    const std::int64_t endRecordOffset = centralOffset + centralSize;
    Put32(out, 0x06064b50);
    Put64(out, 44);  // the record's length after this field
    Put16(out, kMadeByUnix);
    Put16(out, 45);
    Put32(out, 0);  // this disk
    Put32(out, 0);  // the central directory's disk
    Put64(out, static_cast<std::uint64_t>(entryCount));
    Put64(out, static_cast<std::uint64_t>(entryCount));
    Put64(out, static_cast<std::uint64_t>(centralSize));
    Put64(out, static_cast<std::uint64_t>(centralOffset));
    Put32(out, 0x07064b50);  // the locator
    Put32(out, 0);
    Put64(out, static_cast<std::uint64_t>(endRecordOffset));
    Put32(out, 1);  // disks in all
  }
  const std::uint64_t count16 = static_cast<std::uint64_t>(std::min(entryCount, kMax16));
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, count16);
  Put16(out, count16);
  Put32(out, Field32(centralSize));
  Put32(out, Field32(centralOffset));
  Put16(out, 0);  // comment length
  return out;
}
