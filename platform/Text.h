#pragma once
// Conversions between the system code page, UTF-8 and Unicode, and the display width of a text.
// Every function here is free of shared state (each thread keeps its own iconv handles), so
// any thread may call them at once.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace platform {

/// Whether text is well-formed UTF-8: no overlong forms, no surrogates (U+D800-U+DFFF),
/// nothing above U+10FFFF, no stray or missing continuation bytes.
bool IsValidUtf8(std::string_view text);

/// A UTF-8 text (a request path) in the given code page: the identity for UTF-8; through
/// code page 932 for Shift-JIS, with "?" for each character 932 cannot show; a character that
/// would only come out as an ASCII look-alike ("¥" as "\") counts as one it cannot show. Text
/// that is not well-formed UTF-8 gives the empty text.
std::string Utf8ToCodePage(std::string_view utf8, TCodePage codePage = SystemCodePage());

/// A text of the given code page as UTF-8, with U+FFFD in place of every byte (or
/// lead-and-trail pair) that is not a valid character of that code page. The result is
/// always well-formed UTF-8.
std::string CodePageToUtf8(std::string_view text, TCodePage codePage = SystemCodePage());

/// The character that begins at text[pos] in the given code page: its length in bytes, with its
/// Unicode code point in codePoint; 0 when no character begins there (a byte that is no
/// character of the code page, a lead byte without its trail, a cut or overlong UTF-8 form).
/// pos < text.size().
std::size_t DecodeCharacter(std::string_view text, std::size_t pos, char32_t& codePoint,
                            TCodePage codePage = SystemCodePage());

/// The columns the text takes in a fixed-width display: a double-byte character of code page
/// 932 counts 2, a UTF-8 character of East Asian width W or F counts 2, anything else 1
/// (an invalid UTF-8 byte counts 1 by itself).
std::size_t DisplayWidth(std::string_view text, TCodePage codePage = SystemCodePage());

}  // namespace platform
