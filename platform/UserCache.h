#pragma once
// The user's cache folder (XDG base directories) and files replaced whole, so that a reader
// never sees a half-written cache and a crash leaves the old one in place.

#include <string>
#include <string_view>

namespace platform {

/// The program's own cache folder with a trailing "/": "<$XDG_CACHE_HOME>/<name>/", or
/// "<$HOME>/.cache/<name>/" when XDG_CACHE_HOME is unset or not absolute; created with mode 0700
/// (and its parents) when missing. Empty when there is no home or it cannot be created.
/// Any thread.
std::string UserCacheFolder(const std::string& name);

/// Replaces the file at path with bytes: written to a temporary file beside it, then renamed
/// over it. False, and the old file untouched, when any step fails. Any thread.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace platform
