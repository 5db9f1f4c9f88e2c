#include "http/protocol/IdCoderMIME.h"

#include "http/net/IdException.h"
#include "http/io/IdStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Vectors made with GNU coreutils: printf '%s' TEXT | base64 (printf '\xe3...' for bytes).
struct Vector {
  std::string plain;
  const char* encoded;
};
const Vector kVectors[] = {
    {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    {"user:pa:ss", "dXNlcjpwYTpzcw=="},
    {"a", "YQ=="},   // two fill characters: one byte
    {"ab", "YWI="},  // one fill character: two bytes
    {"abc", "YWJj"},
    {std::string("\xe3\x81\x82\x00\xff", 5), "44GCAP8="},
    {"\xff\xfe\xfd", "//79"},
    {"", ""},
};

TEST(TIdDecoderMIME, DecodesIndependentVectors) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.encoded);
    EXPECT_EQ(TIdDecoderMIME::DecodeToText(v.encoded), v.plain);
  }
}

TEST(TIdEncoderMIME, EncodesIndependentVectors) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.encoded);
    EXPECT_EQ(TIdEncoderMIME::EncodeText(v.plain), v.encoded);
  }
}

TEST(TIdDecoderMIME, UnevenLengthIsAnError) {
  for (const char* text : {"YWJjZ", "YQ=", " YWJj"}) {
    SCOPED_TRACE(text);
    try {
      TIdDecoderMIME::DecodeToText(text);
      FAIL() << "no exception";
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Uneven size in DecodeToStream.");
    }
  }
}

TEST(TIdDecoderMIME, WellFormedIsWhatAnEncoderWrites) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.encoded);
    EXPECT_EQ(TIdDecoderMIME::IsWellFormed(v.encoded), v.plain.size() > 0);
  }
  for (const char* text : {"YWJ", "YWJjZ", "YQ=", "Y===", "====", "YQ==YWJj", "YW=j", "YWJ*", "YWJ\x80", " YWJ"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(TIdDecoderMIME::IsWellFormed(text));
  }
}

TEST(TIdDecoderMIME, CharactersOutsideTheAlphabetCountAs255) {
  // 255 << 18 leaves 0xFC in the first byte; the other bits of the group are zero.
  const std::string expected("\xFC\x00\x00", 3);
  for (char outside : {'*', '\0', '\x80', '\xFF', ' '}) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(outside)));
    EXPECT_EQ(TIdDecoderMIME::DecodeToText(std::string(1, outside) + "AAA"), expected);
  }
}

TEST(TIdDecoderMIME, FillCharactersMayEndAnyGroup) {
  EXPECT_EQ(TIdDecoderMIME::DecodeToText("YQ==YWI=YWJj"), "aababc");
}

TEST(TIdDecoderMIME, AppendsAtTheEndOfTheStream) {
  TIdStringStream stream("xy");
  stream.SetPosition(0);
  TIdDecoderMIME().DecodeToStream("YWI=", stream);
  EXPECT_EQ(stream.DataString(), "xyab");
}

}  // namespace
