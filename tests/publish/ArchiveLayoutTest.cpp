#include "publish/ArchiveLayout.h"
#include "publish/TarHeaders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "platform/CodePage.h"
#include "platform/TestTree.h"
#include "support/ArchiveReadBack.h"

namespace {

using archivetest::ReadBack;
using archivetest::TCountingOutput;
using archivetest::TFakeCrc;
using archivetest::TStringOutput;
using archivetest::WholeArchive;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t k4GiB = std::int64_t{1} << 32;
constexpr std::int64_t k8GiB = std::int64_t{1} << 33;
constexpr std::int64_t kSomeTime = 1'700'000'000 * kSecond;  // 2023, whole seconds

TArchiveEntry Folder(std::string path, std::int64_t lastWriteNs = kSomeTime) {
  TArchiveEntry entry;
  entry.Path = std::move(path);
  entry.Folder = true;
  entry.LastWriteNs = lastWriteNs;
  return entry;
}

TArchiveEntry File(std::string path, std::int64_t size, std::int64_t lastWriteNs = kSomeTime, std::uint64_t inode = 7) {
  TArchiveEntry entry;
  entry.Path = std::move(path);
  entry.Size = size;
  entry.LastWriteNs = lastWriteNs;
  entry.Id = {1, inode};
  entry.DiskPath = "/nowhere/" + entry.Path;
  return entry;
}

// The archive's bytes made in memory (headers, records, padding), the file data left out:
// enough to find records in an archive of any size.
std::string RecordBytes(const TArchiveLayout& layout) {
  struct TRecordsOnly : IArchiveOutput {
    void WriteBytes(std::string_view bytes) override { Bytes += bytes; }
    void WriteFileRange(const TArchiveEntry&, std::int64_t, std::int64_t) override {}
    std::string Bytes;
  } output;
  TFakeCrc crc(0);
  layout.Write(output, crc, 0, layout.Size());
  return output.Bytes;
}

bool HasZip64End(const TArchiveLayout& layout) {
  return RecordBytes(layout).find(std::string("PK\x06\x06", 4)) != std::string::npos;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

const TArchiveFormat kFormats[] = {TArchiveFormat::Zip, TArchiveFormat::Tar};

const char* FormatName(TArchiveFormat format) { return format == TArchiveFormat::Zip ? "zip" : "tar"; }

// What readers find

std::vector<TArchiveEntry> SmallTree() {
  return {Folder("photos"),
          Folder("photos/empty"),
          File("photos/a.txt", 10),
          File("photos/\xE6\x97\xA5\xE6\x9C\xAC.txt", 1000),  // 日本.txt
          Folder("photos/sub"),
          File("photos/sub/zero", 0),
          File("photos/sub/blocks", 70'000)};
}

TEST(TArchiveLayout, ReadersFindEveryEntryWithItsNameSizeAndData) {
  for (TArchiveFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    const TArchiveLayout layout(format, SmallTree());
    const auto found = ReadBack(layout);
    ASSERT_EQ(found.size(), layout.Entries().size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      const TArchiveEntry& entry = layout.Entries()[i];
      SCOPED_TRACE(entry.Path);
      EXPECT_EQ(found[i].Name, entry.Folder ? entry.Path + "/" : entry.Path);
      EXPECT_EQ(found[i].Folder, entry.Folder);
      EXPECT_EQ(found[i].Size, entry.Size);
      EXPECT_EQ(found[i].MtimeSeconds, kSomeTime / kSecond);
      if (!entry.Folder) {
        EXPECT_TRUE(found[i].DataRead);
        EXPECT_TRUE(found[i].DataMatches);
      }
    }
  }
}

TEST(TArchiveLayout, NamesThatAreNotUtf8GetReplacementCharacters) {
  for (TArchiveFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    const TArchiveLayout layout(format, {Folder("d"), File("d/bad\xFF.txt", 3)});
    EXPECT_EQ(ReadBack(layout).at(1).Name, "d/bad\xEF\xBF\xBD.txt");
  }
}

TEST(TArchiveLayout, ShiftJisNamesAreConvertedToUtf8) {
  std::optional<TArchiveLayout> zip, tar;
  {
    const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
    zip.emplace(TArchiveFormat::Zip, std::vector{File("\x93\xFA\x96\x7B.txt", 1)});  // 日本.txt
    tar.emplace(TArchiveFormat::Tar, std::vector{File("\x93\xFA\x96\x7B.txt", 1)});
  }
  // Written under another code page, the names come out as they were measured.
  EXPECT_EQ(ReadBack(*zip).at(0).Name, "\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(ReadBack(*tar).at(0).Name, "\xE6\x97\xA5\xE6\x9C\xAC.txt");
}

TEST(TArchiveLayout, ZipNamesCarryTheUtf8FlagAndNonAsciiOnesAUnicodePathField) {
  const std::string ascii = WholeArchive(TArchiveLayout(TArchiveFormat::Zip, {File("a.txt", 1)}));
  const std::string japanese = WholeArchive(TArchiveLayout(TArchiveFormat::Zip, {File("\xE6\x97\xA5.txt", 1)}));
  EXPECT_EQ(Le16(ascii, 6) & 0x0800, 0x0800);
  EXPECT_EQ(Le16(japanese, 6) & 0x0800, 0x0800);
  EXPECT_EQ(ascii.find("up"), std::string::npos);  // 0x7075, little-endian
  EXPECT_NE(japanese.find("up"), std::string::npos);
}

TEST(TArchiveLayout, TarKeepsTheExactModificationTime) {
  const std::int64_t exact = kSomeTime + 123'456'789;
  const auto found = ReadBack(TArchiveLayout(TArchiveFormat::Tar, {File("f", 1, exact)}));
  EXPECT_EQ(found.at(0).MtimeSeconds, kSomeTime / kSecond);
  EXPECT_EQ(found.at(0).MtimeNs, 123'456'789);
}

TEST(TArchiveLayout, ZipDosDatesAreClampedTo1980Through2107) {
  const std::int64_t year2200 = std::int64_t{7'258'118'400} * kSecond;
  const std::string early = WholeArchive(TArchiveLayout(TArchiveFormat::Zip, {File("f", 0, 0)}));
  const std::string late = WholeArchive(TArchiveLayout(TArchiveFormat::Zip, {File("f", 0, year2200)}));
  EXPECT_EQ(Le16(early, 10), 0);                                    // 00:00:00
  EXPECT_EQ(Le16(early, 12), (0 << 9) | (1 << 5) | 1);              // 1980-01-01
  EXPECT_EQ(Le16(late, 10), (23 << 11) | (59 << 5) | 29);           // 23:59:58
  EXPECT_EQ(Le16(late, 12), (127 << 9) | (12 << 5) | 31);           // 2107-12-31
}

// Length and ranges

std::vector<TArchiveEntry> RandomTree(std::mt19937& random) {
  const std::string pieces[] = {"a", "photo", "\xE3\x81\x82", "x.txt", "\xFF", std::string(60, 'n')};
  std::vector<TArchiveEntry> entries{Folder("top")};
  const int count = static_cast<int>(random() % 40);
  for (int i = 0; i < count; ++i) {
    std::string path = "top";
    for (int depth = static_cast<int>(random() % 5); depth >= 0; --depth) path += "/" + pieces[random() % 6];
    path += std::to_string(i);
    const std::int64_t sizes[] = {0, 1, 511, 512, 513, static_cast<std::int64_t>(random() % 5000)};
    const std::int64_t time = kSomeTime + static_cast<std::int64_t>(random() % 3) * 500'000'000;
    entries.push_back(random() % 4 == 0 ? Folder(path, time) : File(path, sizes[random() % 6], time));
  }
  return entries;
}

TEST(TArchiveLayout, RandomTreesWriteExactlyTheirSizeAndAnyRangeIsTheSameSlice) {
  std::mt19937 random(20261208);
  for (int tree = 0; tree < 40; ++tree) {
    const auto entries = RandomTree(random);
    for (TArchiveFormat format : kFormats) {
      SCOPED_TRACE(std::string(FormatName(format)) + " tree " + std::to_string(tree));
      const TArchiveLayout layout(format, entries);
      const std::string whole = WholeArchive(layout);
      ASSERT_EQ(static_cast<std::int64_t>(whole.size()), layout.Size());
      EXPECT_EQ(ReadBack(layout).size(), entries.size());
      if (format == TArchiveFormat::Tar) {
        EXPECT_EQ(layout.Size() % 512, 0);
      }
      for (int i = 0; i < 20; ++i) {
        const std::int64_t first = static_cast<std::int64_t>(random() % (whole.size() + 1));
        const std::int64_t count = static_cast<std::int64_t>(random() % (whole.size() - first + 1));
        TStringOutput part;
        TFakeCrc crc;
        layout.Write(part, crc, first, count);
        ASSERT_EQ(part.Bytes, whole.substr(first, count)) << first << "+" << count;
      }
    }
  }
}

TEST(TArchiveLayout, EmptyArchivesAreJustTheirEnd) {
  EXPECT_EQ(TArchiveLayout(TArchiveFormat::Zip, {}).Size(), 22);
  EXPECT_EQ(TArchiveLayout(TArchiveFormat::Tar, {}).Size(), 1024);
  EXPECT_TRUE(ReadBack(TArchiveLayout(TArchiveFormat::Zip, {})).empty());
}

TEST(TArchiveLayout, RangesOutsideTheArchiveAreRefused) {
  const TArchiveLayout layout(TArchiveFormat::Tar, {File("f", 10)});
  TCountingOutput output;
  TFakeCrc crc;
  EXPECT_THROW(layout.Write(output, crc, -1, 1), std::exception);
  EXPECT_THROW(layout.Write(output, crc, 0, layout.Size() + 1), std::exception);
  EXPECT_THROW(layout.Write(output, crc, layout.Size(), 1), std::exception);
  EXPECT_NO_THROW(layout.Write(output, crc, layout.Size(), 0));
  EXPECT_EQ(output.Written, 0);
}

TEST(TArchiveLayout, ARangeTouchesOnlyTheEntriesItOverlaps) {
  std::vector<TArchiveEntry> entries;
  for (int i = 0; i < 10; ++i) entries.push_back(File("f" + std::to_string(i), 4000, kSomeTime, 100 + i));
  for (TArchiveFormat format : kFormats) {
    SCOPED_TRACE(FormatName(format));
    const TArchiveLayout layout(format, entries);
    // Where each file's data begins, and which files a write touches.
    struct TTouched : IArchiveOutput {
      void WriteBytes(std::string_view bytes) override { Position += static_cast<std::int64_t>(bytes.size()); }
      void WriteFileRange(const TArchiveEntry& entry, std::int64_t, std::int64_t count) override {
        Files.push_back(entry.Path);
        Starts.push_back(Position);
        Position += count;
      }
      std::int64_t Position = 0;
      std::vector<std::string> Files;
      std::vector<std::int64_t> Starts;
    } whole, output;
    TFakeCrc crc(0);
    layout.Write(whole, crc, 0, layout.Size());
    crc.Calls = 0;
    // A resume in the middle of the fifth file's data.
    layout.Write(output, crc, whole.Starts.at(4) + 100, 2000);
    EXPECT_EQ(output.Files, std::vector<std::string>{"f4"});
    EXPECT_EQ(crc.Calls, 0);
    // The zip's end asks for checksums, the tar's for nothing.
    layout.Write(output, crc, layout.Size() - 30, 30);
    EXPECT_EQ(crc.Calls, format == TArchiveFormat::Zip ? 1 : 0);
  }
}

// Where zip64 begins

TEST(TArchiveLayout, Zip64OnlyForAnEntryOf0xFFFFFFFFBytesOrMore) {
  const std::int64_t sizes[] = {0xFFFFFFFE, 0xFFFFFFFF, k4GiB};
  for (std::int64_t size : sizes) {
    SCOPED_TRACE(size);
    const TArchiveLayout layout(TArchiveFormat::Zip, {File("big", size)});
    const std::string records = RecordBytes(layout);
    const bool zip64 = size >= 0xFFFFFFFF;
    EXPECT_EQ(Le16(records, 4), zip64 ? 45 : 10);  // version needed to extract
    const auto found = ReadBack(layout, 0);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].Size, size);
    TCountingOutput counted;
    TFakeCrc crc(0);
    layout.Write(counted, crc, 0, layout.Size());
    EXPECT_EQ(counted.Written, layout.Size());
    EXPECT_EQ(counted.FileBytes, size);
  }
}

TEST(TArchiveLayout, Zip64ForOffsetsPast4GiB) {
  const TArchiveLayout below(TArchiveFormat::Zip, {File("big", 0xF0000000), File("after", 100)});
  const TArchiveLayout past(TArchiveFormat::Zip, {File("big", 0xFFFFFFF0), File("after", 100)});
  EXPECT_FALSE(HasZip64End(below));
  EXPECT_TRUE(HasZip64End(past));
  const auto found = ReadBack(past, 100);
  ASSERT_EQ(found.size(), 2U);
  EXPECT_EQ(found[1].Name, "after");
  EXPECT_TRUE(found[1].DataMatches);
}

TEST(TArchiveLayout, Zip64ForMoreThan65535Entries) {
  for (int count : {65'535, 65'536}) {
    SCOPED_TRACE(count);
    std::vector<TArchiveEntry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) entries.push_back(File("f" + std::to_string(i), 0));
    const TArchiveLayout layout(TArchiveFormat::Zip, std::move(entries));
    EXPECT_EQ(HasZip64End(layout), count > 65'535);
    EXPECT_EQ(ReadBack(layout).size(), static_cast<std::size_t>(count));
  }
}

// Where tar needs pax records

bool HasPaxHeader(const TArchiveLayout& layout) { return RecordBytes(layout)[156] == 'x'; }

TEST(TArchiveLayout, TarPaxHeaderOnlyWhereUstarCannotSayIt) {
  const std::string name100(100, 'n');
  const std::string split = std::string(150, 'p') + "/" + std::string(100, 'n');  // prefix and name
  struct TCase {
    std::string Path;
    std::int64_t Size, LastWriteNs;
    bool Pax;
  } cases[] = {
      {name100, 1, kSomeTime, false},
      {name100 + "n", 1, kSomeTime, true},
      {split, 1, kSomeTime, false},
      {std::string(156, 'p') + "/n", 1, kSomeTime, true},
      {"\xE3\x81\x82", 1, kSomeTime, true},
      {"f", k8GiB - 1, kSomeTime, false},
      {"f", k8GiB, kSomeTime, true},
      {"f", 1, kSomeTime + 1, true},
      {"f", 1, -kSecond, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path.substr(0, 20) + " " + std::to_string(c.Size) + " " + std::to_string(c.LastWriteNs));
    const TArchiveLayout layout(TArchiveFormat::Tar, {File(c.Path, c.Size, c.LastWriteNs)});
    EXPECT_EQ(HasPaxHeader(layout), c.Pax);
    // The layout counts the headers without making them: the count must be what is made.
    for (const bool folder : {false, true}) {
      EXPECT_EQ(TarHeaderSize(c.Path + (folder ? "/" : ""), c.Size, c.LastWriteNs),
                static_cast<std::int64_t>(TarHeaderBlocks(c.Path + (folder ? "/" : ""), folder, c.Size, c.LastWriteNs).size()));
    }
    const auto found = ReadBack(layout, 0);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].Name, c.Path);
    EXPECT_EQ(found[0].Size, c.Size);
  }
}

// Entity tag and dates

TEST(TArchiveLayout, EntityTagChangesWithAnythingThatChangesTheArchive) {
  const std::vector<TArchiveEntry> base = {Folder("d"), File("d/f", 10, kSomeTime, 5)};
  const std::string tag = TArchiveLayout(TArchiveFormat::Zip, base).ETag();
  EXPECT_EQ(tag, TArchiveLayout(TArchiveFormat::Zip, base).ETag());
  EXPECT_EQ(tag.front(), '"');
  EXPECT_EQ(tag.back(), '"');
  auto changed = [&](auto change) {
    auto entries = base;
    change(entries[1]);
    return TArchiveLayout(TArchiveFormat::Zip, entries).ETag();
  };
  EXPECT_NE(tag, TArchiveLayout(TArchiveFormat::Tar, base).ETag());
  EXPECT_NE(tag, changed([](TArchiveEntry& e) { e.Path = "d/g"; }));
  EXPECT_NE(tag, changed([](TArchiveEntry& e) { e.Size = 11; }));
  EXPECT_NE(tag, changed([](TArchiveEntry& e) { e.LastWriteNs += 1; }));
  EXPECT_NE(tag, changed([](TArchiveEntry& e) { e.Id.Inode = 6; }));
}

TEST(TArchiveLayout, NewestLastWriteIsTheLatestEntryInSeconds) {
  EXPECT_EQ(TArchiveLayout(TArchiveFormat::Tar, {}).NewestLastWrite(), 0);
  const TArchiveLayout layout(TArchiveFormat::Zip, {Folder("d", kSomeTime + 5 * kSecond + 900'000'000), File("d/f", 1)});
  EXPECT_EQ(layout.NewestLastWrite(), kSomeTime / kSecond + 5);
}

// Real tools on the archives written to disk

TEST(TArchiveLayout, UnzipAndTarToolsAcceptTheArchives) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("velmora-archive-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  struct TTool {
    TArchiveFormat Format;
    const char* Program;
    const char* Command;
  } tools[] = {{TArchiveFormat::Zip, "unzip", "unzip -tq"},
               {TArchiveFormat::Zip, "bsdtar", "bsdtar -tvf"},
               {TArchiveFormat::Tar, "bsdtar", "bsdtar -tvf"},
               {TArchiveFormat::Tar, "tar", "tar -tvf"}};
  auto entries = SmallTree();
  entries.push_back(File("photos/" + std::string(120, 'l') + ".txt", 5, kSomeTime + 1));
  for (const TTool& tool : tools) {
    if (std::system((std::string("command -v ") + tool.Program + " >/dev/null").c_str()) != 0) continue;
    SCOPED_TRACE(tool.Command);
    const std::filesystem::path file = folder / (std::string("a.") + FormatName(tool.Format));
    std::ofstream(file, std::ios::binary) << WholeArchive(TArchiveLayout(tool.Format, entries));
    EXPECT_EQ(std::system((std::string(tool.Command) + " " + file.string() + " >/dev/null 2>&1").c_str()), 0);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
