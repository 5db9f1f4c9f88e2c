#include "publish/Crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Check values of CRC-32/ISO-HDLC, as zlib's crc32() and Python's zlib.crc32() give them.
TEST(Crc32, KnownVectors) {
  EXPECT_EQ(Crc32Of(""), 0x00000000U);
  EXPECT_EQ(Crc32Of("123456789"), 0xCBF43926U);
  EXPECT_EQ(Crc32Of("The quick brown fox jumps over the lazy dog"), 0x414FA339U);
  EXPECT_EQ(Crc32Of(std::string(1 << 20, '\0')), 0xA738EA1CU);  // zlib.crc32(bytes(1 << 20))
}

TEST(Crc32, PiecesContinueTheSameChecksum) {
  std::string data;
  for (int i = 0; i < 100'000; ++i) data += static_cast<char>(i * 7);
  std::uint32_t crc = 0;
  for (std::size_t at = 0; at < data.size(); at += 333) {
    const std::string piece = data.substr(at, 333);
    crc = Crc32Update(crc, piece.data(), piece.size());
  }
  EXPECT_EQ(crc, Crc32Of(data));
}

}  // namespace
