#pragma once
// Lexical path handling: nothing here touches the disk except for reading the working
// directory that a relative path is expanded against.

#include <string>
#include <string_view>

namespace platform {

/// Whether path holds a NUL byte. Such a path names nothing: the system would read it only up
/// to the NUL, so every function of this layer that touches the disk refuses it.
bool HasEmbeddedNul(std::string_view path);

/// Whether c separates path segments: "/" and "\" both do.
bool IsPathSeparator(char c);

/// The absolute form of path, worked out lexically (no symbolic link is resolved): "/" and "\"
/// both separate and come out as "/", repeated separators count as one, "." segments drop,
/// ".." removes the segment before it (never climbing above "/"), and a trailing separator
/// stays. A relative path (the empty one included) is taken against the working directory.
/// Separators are searched double-byte aware, so a trail byte equal to "\" is kept. Any thread.
std::string ExpandFileName(std::string_view path);

/// folder and name joined with one "/" between them, none added when folder already ends in
/// "/" (which is never a trail byte). An empty name gives folder with a trailing "/".
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace platform
