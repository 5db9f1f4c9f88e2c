#pragma once
// The place for the program's local sockets: a folder in which only the calling user can
// create entries, so that no other local user can put a socket where the program looks for
// its own.

#include <string>

namespace platform {

/// Whether path is a folder itself (not a link to one), owned by the calling user and writable
/// by nobody else. Any thread.
bool IsPrivateFolder(const std::string& path);

/// The folder for local sockets of the program called name, with a trailing "/":
/// $XDG_RUNTIME_DIR when it is a private folder, else "<temp>/<name>-runtime-<uid>" ($TMPDIR or
/// /tmp), created with mode 0700 when missing and used only when it is private. Empty when
/// neither is: another user holds the name, or it cannot be created. Any thread.
std::string PrivateRuntimeFolder(const std::string& name);

}  // namespace platform
