#include "http/protocol/IdCoderMIME.h"

#include "http/net/IdException.h"
#include "http/io/IdStream.h"

#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kOutside = 255;

constexpr std::array<std::uint8_t, 128> MakeDecodeTable() {
  std::array<std::uint8_t, 128> table{};
  for (std::uint8_t& entry : table) entry = kOutside;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  table[0] = kOutside;  // code 0 is never a base64 character
  return table;
}

constexpr std::array<std::uint8_t, 128> kDecodeTable = MakeDecodeTable();

}  // namespace

TIdDecoderMIME::TIdDecoderMIME() : FDecodeTable(kDecodeTable) {}

void TIdDecoderMIME::DecodeToStream(const std::string& text, TIdStream& stream) const {
  if (text.size() % 4 != 0) throw EIdException("Uneven size in DecodeToStream.");
  auto valueOf = [this](char c) -> std::uint32_t {
    const unsigned char code = static_cast<unsigned char>(c);
    return code < FDecodeTable.size() ? FDecodeTable[code] : kOutside;
  };
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::uint32_t group = valueOf(text[i]) << 18 | valueOf(text[i + 1]) << 12 |
                                valueOf(text[i + 2]) << 6 | valueOf(text[i + 3]);
    const std::size_t kept = text[i + 2] == PadChar ? 1 : text[i + 3] == PadChar ? 2 : 3;
    const char candidates[3] = {static_cast<char>(group >> 16 & 0xFF), static_cast<char>(group >> 8 & 0xFF),
                                static_cast<char>(group & 0xFF)};
    bytes.append(candidates, kept);
  }
  if (bytes.empty()) return;
  stream.SetPosition(stream.Size());
  stream.Write(bytes.data(), bytes.size());
}

std::string TIdDecoderMIME::DecodeToText(const std::string& text) {
  TIdDecoderMIME decoder;
  TIdStringStream stream;
  decoder.DecodeToStream(text, stream);
  return stream.DataString();
}

bool TIdDecoderMIME::IsWellFormed(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return false;
  const std::size_t fill = text.size() - text.find_last_not_of('=') - 1;
  if (fill > 2) return false;
  return std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(fill), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < kDecodeTable.size() && kDecodeTable[code] != kOutside;
  });
}

std::string TIdEncoderMIME::EncodeText(const std::string& text) {
  std::string result;
  result.reserve((text.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, text.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j)
      group = group << 8 | (j < count ? static_cast<unsigned char>(text[i + j]) : 0u);
    for (std::size_t j = 0; j < 4; ++j)
      result += j <= count ? kAlphabet[group >> (18 - 6 * j) & 0x3F] : '=';
  }
  return result;
}
