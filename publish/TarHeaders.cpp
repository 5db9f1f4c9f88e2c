#include "publish/TarHeaders.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kOctal11Limit = std::int64_t{1} << 33;  // 8^11: what 11 octal digits hold
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// Offsets and widths of the ustar fields.
struct TField {
  std::size_t Offset, Width;
};
constexpr TField kName{0, 100}, kMode{100, 8}, kUid{108, 8}, kGid{116, 8}, kSize{124, 12}, kMtime{136, 12},
    kChecksum{148, 8}, kType{156, 1}, kMagic{257, 6}, kVersion{263, 2}, kPrefix{345, 155};

void PutText(std::string& block, TField field, std::string_view text) {
  text.copy(block.data() + field.Offset, field.Width);
}

// Width-1 octal digits and a NUL; value in range.
void PutOctal(std::string& block, TField field, std::int64_t value) {
  for (std::size_t i = field.Width - 1; i-- > 0; value >>= 3) block[field.Offset + i] = static_cast<char>('0' + (value & 7));
}

// The sum of the bytes of a block (a multiple of eight long), eight at a time: summed byte by
// byte, the checksums of a tree of small files took a tenth of its archive's time.
std::uint64_t ByteSum(std::string_view block) {
  constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFULL;
  constexpr std::uint64_t kLaneOnes = 0x0001000100010001ULL;
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < block.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, block.data() + at, sizeof word);
    const std::uint64_t pairs = (word & kEvenBytes) + ((word >> 8) & kEvenBytes);  // four sums below 511
    sum += (pairs * kLaneOnes) >> 48;  // the four added in the top lane, below 2,041
  }
  return sum;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// At most width bytes of a UTF-8 text, never cutting a character in two.
std::string_view Utf8Prefix(std::string_view text, std::size_t width) {
  if (text.size() <= width) return text;
  while (width > 0 && (static_cast<unsigned char>(text[width]) & 0xC0) == 0x80) --width;
  return text.substr(0, width);
}

// Splits name into ustar's prefix and name fields at a "/"; false when no split fits.
bool SplitUstarName(std::string_view name, std::string_view& prefix, std::string_view& rest) {
  if (name.size() <= kName.Width) {
    prefix = {};
    rest = name;
    return true;
  }
  for (std::size_t slash = name.find('/'); slash != std::string_view::npos && slash <= kPrefix.Width;
       slash = name.find('/', slash + 1)) {
    const std::size_t restLength = name.size() - slash - 1;
    if (restLength == 0) return false;  // only the folder's trailing "/" left
    if (restLength <= kName.Width) {
      prefix = name.substr(0, slash);
      rest = name.substr(slash + 1);
      return true;
    }
  }
  return false;
}

// Rounded down, also before 1970 (and without negating, which overflows for the earliest time).
std::int64_t FloorSeconds(std::int64_t ns) { return ns / kNsPerSecond - (ns % kNsPerSecond < 0 ? 1 : 0); }

// The exact time as pax writes it: seconds, then the fraction without trailing zeros.
std::string PaxTime(std::int64_t ns) {
  const std::uint64_t magnitude = ns < 0 ? 0 - static_cast<std::uint64_t>(ns) : static_cast<std::uint64_t>(ns);
  std::string text = (ns < 0 ? "-" : "") + std::to_string(magnitude / kNsPerSecond);
  if (const std::uint64_t fraction = magnitude % kNsPerSecond; fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 9 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text;
}

// One pax record, "<length> <key>=<value>\n", its length counting its own digits.
void AddPaxRecord(std::string& records, std::string_view key, std::string_view value) {
  const std::size_t body = 1 + key.size() + 1 + value.size() + 1;
  std::size_t length = body + 1;
  while (std::to_string(length).size() + body != length) length = std::to_string(length).size() + body;
  records += std::to_string(length);
  records += ' ';
  records += key;
  records += '=';
  records += value;
  records += '\n';
}

std::string UstarHeader(std::string_view prefix, std::string_view name, char type, std::int64_t size,
                        std::int64_t mtimeSeconds, bool folder) {
  std::string block(kTarBlock, '\0');
  PutText(block, kName, name);
  PutText(block, kPrefix, prefix);
  PutOctal(block, kMode, folder ? 0755 : 0644);
  PutOctal(block, kUid, 0);
  PutOctal(block, kGid, 0);
  PutOctal(block, kSize, size < kOctal11Limit ? size : 0);  // the pax size record holds it then
  PutOctal(block, kMtime, mtimeSeconds >= 0 && mtimeSeconds < kOctal11Limit ? mtimeSeconds : 0);
  block[kType.Offset] = type;
  PutText(block, kMagic, std::string_view("ustar\0", 6));
  PutText(block, kVersion, "00");
  // The checksum is taken with its own field as blanks, then written as six digits, NUL, blank.
  std::memset(block.data() + kChecksum.Offset, ' ', kChecksum.Width);
  PutOctal(block, {kChecksum.Offset, 7}, ByteSum(block));
  return block;
}

}  // namespace

namespace {

// What an entry's header blocks hold besides the ustar header's fixed fields: the pax records
// (none when ustar says it all) and the name as the ustar fields take it.
struct TTarHeaderPlan {
  std::string Records;
  std::string_view Prefix, Name;
  std::int64_t Seconds = 0;
};

TTarHeaderPlan PlanTarHeader(std::string_view name, std::int64_t size, std::int64_t lastWriteNs) {
  TTarHeaderPlan plan;
  const bool nameFits = IsAscii(name) && SplitUstarName(name, plan.Prefix, plan.Name);
  if (!nameFits) {
    AddPaxRecord(plan.Records, "path", name);
    plan.Prefix = {};
    plan.Name = Utf8Prefix(name, kName.Width);  // for readers without pax, which then see it cut short
  }
  if (size >= kOctal11Limit) AddPaxRecord(plan.Records, "size", std::to_string(size));
  plan.Seconds = FloorSeconds(lastWriteNs);
  if (lastWriteNs % kNsPerSecond != 0 || plan.Seconds < 0 || plan.Seconds >= kOctal11Limit) {
    AddPaxRecord(plan.Records, "mtime", PaxTime(lastWriteNs));
  }
  return plan;
}

std::int64_t PaxBlocksSize(const TTarHeaderPlan& plan) {
  if (plan.Records.empty()) return 0;
  const auto recordsSize = static_cast<std::int64_t>(plan.Records.size());
  return kTarBlock + recordsSize + TarPadding(recordsSize);
}

}  // namespace

std::string TarHeaderBlocks(std::string_view name, bool folder, std::int64_t size, std::int64_t lastWriteNs) {
  const TTarHeaderPlan plan = PlanTarHeader(name, size, lastWriteNs);
  std::string blocks;
  blocks.reserve(static_cast<std::size_t>(PaxBlocksSize(plan) + kTarBlock));
  if (!plan.Records.empty()) {
    const auto recordsSize = static_cast<std::int64_t>(plan.Records.size());
    blocks += UstarHeader({}, "././@PaxHeader", 'x', recordsSize, plan.Seconds, false);
    blocks += plan.Records;
    blocks.append(static_cast<std::size_t>(TarPadding(recordsSize)), '\0');
  }
  blocks += UstarHeader(plan.Prefix, plan.Name, folder ? '5' : '0', size, plan.Seconds, folder);
  return blocks;
}

std::int64_t TarHeaderSize(std::string_view name, std::int64_t size, std::int64_t lastWriteNs) {
  return PaxBlocksSize(PlanTarHeader(name, size, lastWriteNs)) + kTarBlock;
}
