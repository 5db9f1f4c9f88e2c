// A request path on its way to the disk: UTF-8 to the system code page (both code pages) and
// back, and the lexical expansion of the joined path.
// Input: one text, converted and expanded as a path.

#include "FuzzCheck.h"
#include "platform/FilePath.h"
#include "platform/Text.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using platform::TCodePage;

namespace {

// The length of the UTF-8 character that starts text, which is well-formed UTF-8.
std::size_t CharacterLength(std::string_view text) {
  const auto first = static_cast<unsigned char>(text[0]);
  return first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
}

// Each character converts by itself, never to an ASCII character other than its own or "?"
// (a look-alike such as "¥" for "\" would let a request smuggle in a separator).
void CheckShiftJisCharacters(std::string_view utf8, const std::string& converted) {
  std::string joined;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::string_view character = utf8.substr(pos, CharacterLength(utf8.substr(pos)));
    const std::string one = platform::Utf8ToCodePage(character, TCodePage::ShiftJis);
    FUZZ_CHECK(!one.empty());
    if (one.size() == 1 && static_cast<unsigned char>(one[0]) < 0x80) FUZZ_CHECK(one == character || one == "?");
    joined += one;
    pos += character.size();
  }
  FUZZ_CHECK(joined == converted);
}

void CheckConversions(const std::string& text) {
  const bool valid = platform::IsValidUtf8(text);
  const std::string asUtf8 = platform::Utf8ToCodePage(text, TCodePage::Utf8);
  const std::string asShiftJis = platform::Utf8ToCodePage(text, TCodePage::ShiftJis);
  FUZZ_CHECK(asUtf8 == (valid ? text : ""));
  if (!valid) {
    FUZZ_CHECK(asShiftJis.empty());
  } else {
    CheckShiftJisCharacters(text, asShiftJis);
    // What came out of the conversion is a fixed point of the way there and back.
    const std::string back = platform::CodePageToUtf8(asShiftJis, TCodePage::ShiftJis);
    FUZZ_CHECK(platform::IsValidUtf8(back));
    FUZZ_CHECK(platform::Utf8ToCodePage(back, TCodePage::ShiftJis) == asShiftJis);
  }
  // Any bytes of either code page come out as well-formed UTF-8; valid UTF-8 as itself.
  const std::string fromUtf8 = platform::CodePageToUtf8(text, TCodePage::Utf8);
  FUZZ_CHECK(platform::IsValidUtf8(fromUtf8));
  if (valid) FUZZ_CHECK(fromUtf8 == text);
  FUZZ_CHECK(platform::IsValidUtf8(platform::CodePageToUtf8(text, TCodePage::ShiftJis)));
}

// Splits an expanded path at "/", stepping over double-byte characters.
std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size();) {
    if (i == path.size() || path[i] == '/') {
      segments.push_back(path.substr(start, i - start));
      start = ++i;
    } else {
      i += platform::CharLength(path, i);
    }
  }
  return segments;
}

void CheckExpansion(const std::string& path, TCodePage codePage) {
  const std::string expanded = platform::ExpandFileName(path);
  FUZZ_CHECK(!expanded.empty() && expanded[0] == '/');
  const std::vector<std::string_view> segments = Segments(expanded);
  for (std::size_t i = 1; i < segments.size(); ++i) {
    const bool last = i + 1 == segments.size();
    FUZZ_CHECK(segments[i] != "." && segments[i] != "..");
    FUZZ_CHECK(!segments[i].empty() || last);  // no doubled separator, only a trailing one
  }
  FUZZ_CHECK(platform::ExpandFileName(expanded) == expanded);
  if (codePage == TCodePage::Utf8) {
    FUZZ_CHECK(expanded.find('\\') == std::string::npos);
    if (!path.empty() && platform::IsPathSeparator(path.back())) FUZZ_CHECK(expanded.back() == '/');
  }
  if (!path.empty() && !platform::IsPathSeparator(path[0]))
    FUZZ_CHECK(platform::ExpandFileName(std::filesystem::current_path().string() + "/" + path) == expanded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckConversions(text);
  fuzz::ForEachCodePage([&](TCodePage codePage) { CheckExpansion(text, codePage); });
  return 0;
}
