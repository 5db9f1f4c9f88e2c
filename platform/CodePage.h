#pragma once
// The system code page: the 8-bit character set in which every text of the system (names,
// paths, pages, log lines) is held. UTF-8, or Shift-JIS (code page 932) when the locale says so.

#include <cstddef>
#include <string_view>

namespace platform {

enum class TCodePage { Utf8, ShiftJis };

/// The code set of the process locale: ShiftJis for SHIFT_JIS, SJIS, CP932 and WINDOWS-31J
/// (any case), Utf8 for everything else, the C locale included. Call after setlocale().
TCodePage DetectSystemCodePage();

/// The code page in force: the one last set, Utf8 until then. Any thread.
TCodePage SystemCodePage();

/// Sets the code page in force. Start-up (from DetectSystemCodePage) and tests only,
/// before any connection thread runs.
void SetSystemCodePage(TCodePage codePage);

/// Whether the code page in force has lead bytes at all (only Shift-JIS does).
bool HasLeadBytes();

/// Whether c begins a double-byte character of Shift-JIS: 0x81-0x9F and 0xE0-0xFC.
bool IsShiftJisLeadByte(unsigned char c);

/// Whether c begins a double-byte character in the code page in force: a Shift-JIS lead byte
/// on a Shift-JIS system, never in UTF-8.
bool IsLeadByte(unsigned char c);

/// The bytes of the character at text[pos] in the code page in force: 2 for a lead byte with a
/// byte after it, else 1. Every double-byte-aware walk steps by it, so that a trail byte is never
/// taken for a character of its own. pos < text.size().
std::size_t CharLength(std::string_view text, std::size_t pos);

/// c with an ASCII letter in upper (or lower) case; every other byte, lead and trail bytes of
/// double-byte characters included, unchanged. Free of the locale. Inline: every comparison of
/// names without regard to case runs through them, byte by byte.
inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// The 0-based offset of the first sub in text at or after from, never starting on the trail
/// byte of a double-byte character; npos when absent. An empty sub is found at from.
std::size_t FindText(std::string_view text, std::string_view sub, std::size_t from = 0);

}  // namespace platform
