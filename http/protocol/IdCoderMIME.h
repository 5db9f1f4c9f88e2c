#pragma once
// Base64 (the RFC 2045 alphabet): the decoder that reads Basic credentials, and its encoder.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TIdStream;

/// Decodes base64 text four characters at a time. Characters outside the alphabet (also code 0
/// and codes 128 to 255) are not rejected: they count as the value 255, so the output is
/// defined but not meaningful. Padding may stand in any group. One instance per thread.
class TIdDecoderMIME {
public:
  TIdDecoderMIME();

  char PadChar = '=';

  /// Appends the decoded bytes at the end of stream. Throws EIdException
  /// "Uneven size in DecodeToStream." when the length of text is not a multiple of 4.
  void DecodeToStream(const std::string& text, TIdStream& stream) const;

  /// The decoded bytes of text as a text; throws as DecodeToStream.
  static std::string DecodeToText(const std::string& text);

  /// Whether text is base64 as an encoder writes it: a non-empty multiple of 4 characters of
  /// the alphabet, with "=" fill only at its end (at most two), so that DecodeToText gives the
  /// bytes that were encoded. Any thread.
  static bool IsWellFormed(std::string_view text);

private:
  std::array<std::uint8_t, 128> FDecodeTable;  // own copy of the shared table, by character code
};

/// Encodes bytes as base64 with "=" padding. Any thread.
class TIdEncoderMIME {
public:
  static std::string EncodeText(const std::string& text);
};
