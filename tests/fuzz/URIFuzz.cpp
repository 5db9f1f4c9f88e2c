// Splitting a request target into its parts, and the URL decoding of paths and parameters.
// Input: the target text.

#include "FuzzCheck.h"
#include "http/protocol/IdURI.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The parts of a target without "://" put back together give the target again; only the "#"
// before the bookmark is not kept.
void CheckRelativeParts(const TIdURI& uri) {
  const std::string joined = uri.Path() + uri.Document() + uri.Params();
  FUZZ_CHECK(uri.URI() == joined || uri.URI() == joined + "#" + uri.Bookmark());
  FUZZ_CHECK(uri.Protocol().empty() && uri.Host().empty() && uri.Port().empty());
  FUZZ_CHECK(uri.Username().empty() && uri.Password().empty());
}

void CheckSplit(const std::string& text, platform::TCodePage codePage) {
  // A Host taken for building a URL can bring no path, query, user part, blank or line break.
  static const std::string kNeverInHost("/?#@\\ \t\r\n\0", 10);
  if (TIdURI::IsHostAndPort(text)) FUZZ_CHECK(text.find_first_of(kNeverInHost) == std::string::npos);
  const TIdURI uri(text);
  FUZZ_CHECK(uri.URI().size() == text.size());
  if (codePage == platform::TCodePage::Utf8) FUZZ_CHECK(uri.URI().find('\\') == std::string::npos);
  FUZZ_CHECK(uri.Path().empty() || uri.Path().back() == '/');
  FUZZ_CHECK(uri.Document().find('/') == std::string::npos);
  if (platform::FindText(uri.URI(), "://") == std::string::npos) {
    CheckRelativeParts(uri);
  } else {
    FUZZ_CHECK(!uri.Path().empty() && uri.Path().front() == '/');
    if (codePage == platform::TCodePage::Utf8) {
      FUZZ_CHECK(uri.Host().find('/') == std::string::npos);
      // A colon only inside the brackets of an IPv6 literal.
      FUZZ_CHECK(uri.Host().find(':') == std::string::npos || text.find("[" + uri.Host() + "]") != std::string::npos);
    }
    FUZZ_CHECK(!uri.Username().empty() || uri.Password().empty());
  }
}

// Every byte as "%hh", letter digits in upper or lower case by turns.
std::string PercentEncode(const std::string& bytes) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  std::string encoded;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char* digits = i % 2 == 0 ? kUpper : kLower;
    const auto byte = static_cast<unsigned char>(bytes[i]);
    encoded += '%';
    encoded += digits[byte >> 4];
    encoded += digits[byte & 0x0F];
  }
  return encoded;
}

void CheckPercentDecode(const std::string& text) {
  const std::string decoded = TIdURI::PercentDecode(text);
  FUZZ_CHECK(decoded.size() <= text.size());
  FUZZ_CHECK(std::count(decoded.begin(), decoded.end(), '\0') <= std::count(text.begin(), text.end(), '\0'));
  if (text.find_first_of("%+") == std::string::npos) FUZZ_CHECK(decoded == text);

  std::string withoutNul = text;
  std::erase(withoutNul, '\0');
  FUZZ_CHECK(TIdURI::PercentDecode(PercentEncode(withoutNul)) == withoutNul);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::ForEachCodePage([&](platform::TCodePage codePage) { CheckSplit(text, codePage); });
  CheckPercentDecode(text);
  return 0;
}
