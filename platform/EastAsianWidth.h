#pragma once
// The East Asian width property, as far as column counting needs it.

namespace platform {

/// Whether the code point has East Asian width W (wide) or F (fullwidth).
bool IsWideCodePoint(char32_t codePoint);

}  // namespace platform
