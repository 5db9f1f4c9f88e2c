// Base64 as the credentials of a Basic "Authorization" header arrive: any text decodes or fails
// with the engine's one error, and the encoder and decoder undo each other.
// Input: one text, decoded as credentials and encoded as bytes.

#include "FuzzCheck.h"
#include "http/net/IdException.h"
#include "http/protocol/IdCoderMIME.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool IsAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

void CheckDecode(const std::string& text) {
  if (text.size() % 4 != 0) {
    bool refused = false;
    try {
      TIdDecoderMIME::DecodeToText(text);
    } catch (const EIdException& error) {
      refused = std::strcmp(error.what(), "Uneven size in DecodeToStream.") == 0;
    }
    FUZZ_CHECK(refused);
    return;
  }
  const std::string decoded = TIdDecoderMIME::DecodeToText(text);
  const std::size_t groups = text.size() / 4;
  FUZZ_CHECK(decoded.size() >= groups && decoded.size() <= 3 * groups);
  // A text taken as credentials carries every byte its length promises, fill aside.
  if (TIdDecoderMIME::IsWellFormed(text)) {
    const std::size_t fill = text.size() - text.find_last_not_of('=') - 1;
    FUZZ_CHECK(decoded.size() == 3 * groups - fill);
  }
  // Four characters of the alphabet carry exactly three bytes, so such a text comes back whole.
  bool allAlphabet = true;
  for (char c : text) allAlphabet = allAlphabet && IsAlphabet(c);
  if (allAlphabet) FUZZ_CHECK(TIdEncoderMIME::EncodeText(decoded) == text);
}

void CheckRoundTrip(const std::string& bytes) {
  const std::string encoded = TIdEncoderMIME::EncodeText(bytes);
  FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
  const std::size_t padding = encoded.find('=');
  for (std::size_t i = 0; i < encoded.size(); ++i)
    FUZZ_CHECK(i < padding ? IsAlphabet(encoded[i]) : encoded[i] == '=');
  FUZZ_CHECK(encoded.size() - std::min(padding, encoded.size()) <= 2);
  FUZZ_CHECK(TIdDecoderMIME::DecodeToText(encoded) == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckDecode(text);
  CheckRoundTrip(text);
  return 0;
}
