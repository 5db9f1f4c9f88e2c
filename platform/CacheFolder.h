#pragma once
// The user's cache folders and the few writes a cache makes: whole files replaced atomically,
// and old files removed.

#include <string>
#include <string_view>

namespace platform {

/// The user's cache folder with a trailing "/": $XDG_CACHE_HOME when it is an absolute path,
/// else $HOME/.cache/; empty when neither is set. Any thread.
std::string UserCacheFolder();

/// The program's own cache folder with a trailing "/": UserCacheFolder() and name, created with
/// mode 0700 (and its parents) when missing. Empty when there is no home or it cannot be created.
/// Any thread.
std::string UserCacheFolder(const std::string& name);

/// The user's data folder with a trailing "/": $XDG_DATA_HOME when it is an absolute path, else
/// $HOME/.local/share/; empty when neither is set. Any thread.
std::string UserDataFolder();

/// Creates path and every missing folder above it, the new ones with mode 0700. Returns whether
/// path is a folder afterwards. Any thread.
bool ForceFolders(const std::string& path);

/// Replaces the file at path by one holding data, through a temporary file in the same folder
/// synced and renamed over it, so that a reader sees the old file or the new one, never a part,
/// and a crash leaves the old one in place. Returns false (nothing left behind, the old file
/// untouched) when any step fails. Any thread.
bool WriteFileAtomically(const std::string& path, std::string_view data);

/// Removes the file at path; false when it cannot be removed. Any thread.
bool RemoveFile(const std::string& path);

}  // namespace platform
