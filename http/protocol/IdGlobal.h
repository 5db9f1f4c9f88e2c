#pragma once
// Free helpers the whole engine shares: header dates with their time-zone handling, the token
// and search functions that split request lines, header values and credentials, and the small
// text conversions that go with them. Texts are 8-bit strings in the system code page;
// positions are 1-based byte positions with 0 for "not found". Every function here is free of
// shared state and may run on any thread.

#include "platform/DateTime.h"

#include <cstdint>
#include <string>
#include <string_view>

// Header dates

/// The header date of a local date-time in the one form every client reads, such as
/// "Sun, 06 Dec 2026 13:13:12 GMT": the moment in GMT (the value less the local offset of now),
/// the day in two digits. Throws EIdFailedToRetreiveTimeZoneInfo when the local offset cannot
/// be had.
std::string InternetDateText(platform::TDateTime value);

/// Local time minus UTC at this moment, as a date-time difference (+9 hours is 0.375).
/// Throws EIdFailedToRetreiveTimeZoneInfo when the C library cannot give the local time.
platform::TDateTime LocalUtcOffset();

/// Reads an RFC 1123, RFC 850 or asctime date and its time from the front of text and leaves
/// in text what follows (the zone part, such as "GMT"). Returns 0 for anything that cannot be
/// read as a possible date and time; never throws.
platform::TDateTime ParseInternetDate(std::string& text);

/// The offset of a zone text "+hhmm" or "-hhmm"; 0 for zone names and anything unreadable.
platform::TDateTime OffsetTextToDateTime(const std::string& text);

/// A header date as a date-time in UTC; 0 when no date can be read. Never throws.
platform::TDateTime HeaderDateToUtc(std::string text);

/// A header date converted to local time; 0 when no date can be read. Throws
/// EIdFailedToRetreiveTimeZoneInfo when the local offset cannot be had.
platform::TDateTime HeaderDateToLocal(std::string text);

/// 1 ("Sun") to 7 ("Sat") for a three-letter weekday in any case; 0 for anything else.
int DayNumber(std::string_view text);

/// 1 ("Jan") to 12 ("Dec") for a three-letter month in any case; 0 for anything else.
int MonthNumber(std::string_view text);

/// "Jan" to "Dec" for a month from 1 to 12, in English whatever the locale.
const char* MonthName(int month);

// Tokens and searches

/// The text before the first delimiter (all of text when there is none). With remove, text
/// loses that token and the delimiter (or becomes empty when there was none).
std::string TakeToken(std::string& text, const std::string& delimiter = " ", bool remove = true,
                      bool caseSensitive = true);

/// TakeToken with the delimiter found without regard to the case of ASCII letters.
std::string TakeTokenNoCase(std::string& text, const std::string& delimiter, bool remove = true);

/// The position of the last sub in text that starts at or before start (-1: anywhere),
/// compared without regard to case; 0 when there is none or sub is empty.
int LastPos(const std::string& sub, const std::string& text, int start = -1);

/// The position of the first sub in text, never on the trail byte of a double-byte character
/// of the system code page; 0 when there is none or sub is empty.
int TextPos(const std::string& sub, const std::string& text);

// Text conversions

/// ASCII letters changed in case; every other byte (lead and trail bytes included) kept.
std::string UpperCase(std::string text);
std::string LowerCase(std::string text);

/// Whether two texts are equal without regard to the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);

/// Blanks and control characters (every byte up to 0x20) removed at the ends named.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

/// A decimal integer with an optional sign, after optional leading blanks, and nothing else;
/// false for anything else and for values out of range.
bool TryStrToInt64(std::string_view text, std::int64_t& value);

/// The decimal number of text, or fallback when text is not one (or does not fit an int).
int StrToIntDef(std::string_view text, int fallback);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback);
