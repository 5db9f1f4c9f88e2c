#pragma once
// The access log: one line per answered request in the combined format that web servers share
// and log analysers read.

#include <string>
#include <string_view>

#include "http/protocol/IdCustomHTTPServer.h"

/// text as a field of an access log line: '"', '\', every control byte and every byte outside
/// ASCII as \xHH (two upper-case hex digits), and so the bytes of alsoEscaped, so that no field
/// ends early and a request never makes more than one line. Any thread.
std::string EscapeLogField(std::string_view text, std::string_view alsoEscaped = {});

/// The access log line of a request, without a line end:
///   client - user [08/Dec/2026:20:09:23 +0900] "request line" status bytes "referer" "user agent" us
/// The time is when the request came in, in local time with its offset from UTC; user is the
/// name the request logged in with (its blanks and brackets escaped too); bytes are those of
/// the body that left, "-" for none; us is the microseconds the answer took. An empty user,
/// referer or user agent is "-". Any thread.
std::string AccessLogLine(const TIdHTTPRequestInfo& request, const TIdHTTPRequestOutcome& outcome);
