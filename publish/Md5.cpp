#include "publish/Md5.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::array<std::uint32_t, 64> kShift = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

std::array<std::uint32_t, 64> Constants() {
  std::array<std::uint32_t, 64> k{};
  for (int i = 0; i < 64; ++i) k[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
  return k;
}

std::uint32_t Rotate(std::uint32_t x, std::uint32_t n) { return (x << n) | (x >> (32 - n)); }

void Block(std::array<std::uint32_t, 4>& state, const unsigned char* block) {
  static const std::array<std::uint32_t, 64> k = Constants();
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = block[i * 4] | (block[i * 4 + 1] << 8) | (block[i * 4 + 2] << 16) | (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f, g;
    if (i < 16) f = (b & c) | (~b & d), g = i;
    else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
    else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
    else f = c ^ (b | ~d), g = (7 * i) % 16;
    const std::uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotate(a + f + k[i] + m[g], kShift[i]);
    a = next;
  }
  state[0] += a, state[1] += b, state[2] += c, state[3] += d;
}

}  // namespace

std::string Md5Hex(std::string_view data) {
  std::array<std::uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::string padded(data);
  padded += static_cast<char>(0x80);
  while (padded.size() % 64 != 56) padded += '\0';
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) padded += static_cast<char>((bits >> (8 * i)) & 0xFF);
  for (std::size_t at = 0; at < padded.size(); at += 64) Block(state, reinterpret_cast<const unsigned char*>(&padded[at]));
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : state)
    for (int i = 0; i < 4; ++i) {
      const unsigned byte = (word >> (8 * i)) & 0xFF;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
  return hex;
}
