#pragma once
// How a file is answered: the byte range a request asks for, whether the client's copy is still
// good, and what a file answer says about the file.

#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdHTTPResponseInfo.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

/// What a "Range" value asks of a file.
struct TIdByteRange {
  enum TKind { rkWhole, rkPart, rkUnsatisfiable };
  TKind Kind = rkWhole;
  std::int64_t First = 0;  // for rkPart: the first and the last byte asked for
  std::int64_t Last = -1;
};

/// The range that value asks of a file of size bytes. One "bytes=a-b", "bytes=a-" or "bytes=-n"
/// (the unit in any case, blanks around the parts allowed) is a part when it names at least one
/// byte of the file: an end past the file is its last byte, a suffix longer than the file is all
/// of it. One that names no byte is unsatisfiable: a start at or past the end, "-0", any range of
/// an empty file. Anything else (no value, several ranges, another unit, an end before the start,
/// something that is no number) is the whole file. Any thread.
TIdByteRange ParseByteRange(std::string_view value, std::int64_t size);

/// How a file answer goes out.
struct TIdFileAnswer {
  int StatusCode = 200;     // 200, 206, 304 or 416
  std::int64_t Offset = 0;  // the first byte of the file sent
  std::int64_t Count = 0;   // the bytes of the file sent: none for 304 and 416
};

/// The answer to request for a file of size bytes last written at written, a date-time in UTC
/// (0 or less: unknown), whose strong entity tag (quoted) is entityTag (empty: none). Only GET and
/// HEAD are conditional or partial: with a tag and an If-None-Match, 304 when that lists the tag
/// or "*"; without either, 304 when If-Modified-Since names a moment at or after written
/// (compared in whole seconds of UTC, whatever the local zone); else 206 or 416 as the Range
/// asks, when there is no If-Range or it names exactly the tag or that moment; else 200 with the
/// whole file. A date that cannot be read counts as absent. Any thread.
TIdFileAnswer PlanFileAnswer(const TIdHTTPRequestInfo& request, std::int64_t size, platform::TDateTime written,
                             std::string_view entityTag = {});

/// Puts answer, planned for a body of size bytes, into response: its status, and Content-Range
/// and Content-Length as the status needs (for 416 the status page as the body, no length for
/// 304). Any thread.
void DescribeRangeAnswer(TIdHTTPResponseInfo& response, const TIdFileAnswer& answer, std::int64_t size);

/// The local date-time a response record holds as the Last-Modified of a file last written at
/// moment: the moment in UTC shifted by the local offset of now, which is the offset that
/// InternetDateText takes off again, so that the line names the moment exactly whatever daylight
/// time did since. Throws
/// EIdFailedToRetreiveTimeZoneInfo when the local offset cannot be had. Any thread.
platform::TDateTime LastModifiedOf(std::time_t moment);

/// The "Content-Disposition" value of an answer named name (in the system code page): kind
/// ("inline" for files, so that browsers show what they can; "attachment" for downloads), a plain
/// ASCII filename for clients that read no other (each character outside printable ASCII, and
/// each of " \ % / as "_") and the real name as UTF-8, percent-encoded, in filename*. Any thread.
std::string ContentDispositionOf(std::string_view name, std::string_view kind = "inline");

/// Whether start, the first bytes of a file, reads as UTF-8 text: well-formed, with at least one
/// byte above 0x7F. Unless start is the whole file, a character cut off at its end counts as
/// well-formed. Any thread.
bool IsUtf8Text(std::string_view start, bool wholeFile);
