#pragma once
// The fixed parts of the browse page: its style, its script, the security policy that admits
// exactly those two, and its texts in English and Japanese.

#include <string>
#include <string_view>

extern const std::string_view kBrowseStyle;
extern const std::string_view kBrowseScript;

/// The Content-Security-Policy of the page: nothing from elsewhere, and inline only the page's
/// own style and script, named by their SHA-256 hashes (worked out once). Any thread.
const std::string& BrowseSecurityPolicy();

/// The texts of the page in one language.
struct TBrowseTexts {
  const char* Lang;
  const char* Up;
  const char* Name;
  const char* Date;
  const char* Size;
  const char* Filter;
  const char* Download;
  const char* CopyLink;
  const char* Copied;
  const char* More;
  const char* Grid;
  const char* List;
  const char* Previous;
  const char* Next;
  const char* Close;
  const char* Bytes;
};

/// Japanese when the first language of an Accept-Language value is Japanese ("ja", "ja-JP"),
/// else English.
const TBrowseTexts& BrowseTextsFor(std::string_view acceptLanguage);
