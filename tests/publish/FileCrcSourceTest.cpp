#include "publish/FileCrcSource.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "http/net/IdException.h"
#include "platform/FileSystem.h"
#include "platform/ReadOnlyFile.h"
#include "platform/TestTree.h"
#include "publish/Crc32.h"
#include "publish/CrcCache.h"

namespace {

class TFileCrcSourceTest : public ::testing::Test {
protected:
  testing_tree::TTempTree Tree;
  TCrcCache Cache{""};
  TFileCrcSource Source{Cache};

  // The entry of a file as the walk would find it.
  TArchiveEntry EntryOf(const std::string& name) const {
    const platform::TReadOnlyFile file(Tree.At(name));
    TArchiveEntry entry;
    entry.Path = name;
    entry.DiskPath = Tree.At(name);
    entry.Size = file.SizeAtOpen();
    entry.LastWriteNs = file.LastWriteNsAtOpen();
    entry.Id = file.IdAtOpen();
    return entry;
  }
};

TEST_F(TFileCrcSourceTest, ReadsAFileOnceThenAnswersFromTheCache) {
  std::string data(3 << 20, '\0');  // over one read's worth
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + (i >> 16));
  Tree.File("f", data);
  const TArchiveEntry entry = EntryOf("f");
  EXPECT_EQ(Source.CrcOf(entry), Crc32Of(data));
  EXPECT_EQ(Cache.Count(), 1U);
  std::filesystem::remove(Tree.At("f"));  // a second ask needs no file
  EXPECT_EQ(Source.CrcOf(entry), Crc32Of(data));
}

TEST_F(TFileCrcSourceTest, RefusesAFileThatIsNotTheWalksVersion) {
  Tree.File("f", "0123456789");
  const TArchiveEntry entry = EntryOf("f");
  auto changed = [&](auto change) {
    TArchiveEntry other = entry;
    change(other);
    return other;
  };
  const TArchiveEntry cases[] = {
      changed([](TArchiveEntry& e) { e.Size = 9; }),
      changed([](TArchiveEntry& e) { e.LastWriteNs += 1; }),
      changed([](TArchiveEntry& e) { e.Id.Inode += 1; }),
  };
  for (const TArchiveEntry& stale : cases) EXPECT_THROW(Source.CrcOf(stale), EIdFileChanged);
  EXPECT_EQ(Cache.Count(), 0U);
  // Grown after the walk: same entry, new file.
  Tree.File("f", "0123456789+");
  EXPECT_THROW(Source.CrcOf(entry), EIdFileChanged);
}

TEST_F(TFileCrcSourceTest, AMissingFileIsAnOpenError) {
  Tree.File("f", "abc");
  const TArchiveEntry entry = EntryOf("f");
  std::filesystem::remove(Tree.At("f"));
  EXPECT_THROW(Source.CrcOf(entry), EFOpenError);
}

TEST_F(TFileCrcSourceTest, AFileWithoutIdentityIsReadEveryTimeAndNeverCached) {
  Tree.File("f", "abc");
  TArchiveEntry entry = EntryOf("f");
  entry.Id = {};
  EXPECT_EQ(Source.CrcOf(entry), Crc32Of("abc"));
  EXPECT_EQ(Cache.Count(), 0U);
}

}  // namespace
