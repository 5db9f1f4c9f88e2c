#include "app/SystemText.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

#include "platform/CodePage.h"

namespace {

// Length of the character that begins at text[at], so that an unconvertible one is skipped whole.
using TCharLength = std::size_t (*)(const std::string& text, std::size_t at);

std::size_t Utf8CharLength(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  std::size_t taken = 1;
  while (taken < length && at + taken < text.size() && (static_cast<unsigned char>(text[at + taken]) & 0xC0) == 0x80)
    ++taken;
  return taken;
}

std::size_t ShiftJisCharLength(const std::string& text, std::size_t at) {
  return platform::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

std::string Convert(const std::string& text, const char* to, const char* from, TCharLength charLength) {
  const iconv_t descriptor = iconv_open(to, from);
  if (descriptor == reinterpret_cast<iconv_t>(-1))
    return text;
  const std::unique_ptr<void, int (*)(iconv_t)> closer(descriptor, &iconv_close);
  std::string result;
  std::size_t at = 0;
  char buffer[1024];
  while (at < text.size()) {
    char* in = const_cast<char*>(text.data() + at);
    std::size_t inLeft = text.size() - at;
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t converted = iconv(descriptor, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    result.append(buffer, out);
    at = text.size() - inLeft;
    if (converted != static_cast<std::size_t>(-1) || inLeft == 0)
      continue;
    if (error == E2BIG)
      continue;
    result += '?';
    at += charLength(text, at);
  }
  return result;
}

}  // namespace

std::string Utf8ToSystem(const std::string& text) {
  if (platform::SystemCodePage() == platform::TCodePage::Utf8)
    return text;
  return Convert(text, "CP932", "UTF-8", &Utf8CharLength);
}

std::string SystemToUtf8(const std::string& text) {
  if (platform::SystemCodePage() == platform::TCodePage::Utf8)
    return text;
  return Convert(text, "UTF-8", "CP932", &ShiftJisCharLength);
}
