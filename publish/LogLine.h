#pragma once
// The forms of the activity log's lines, shared by every host of the server. Lines are in the
// system code page.

#include <ctime>
#include <exception>
#include <string>
#include <string_view>

#include "platform/RegionalFormats.h"

/// "<date> <time> <text>" for a moment in local time, in the user's short date and long time
/// formats, text passed through EscapeLogText. Any thread.
std::string StampedLogLine(const platform::TRegionalFormats& formats, std::time_t moment, std::string_view text);

/// "<date> <time> サーバ起動": the server started.
std::string StartLogLine(const platform::TRegionalFormats& formats, std::time_t moment);

/// "<date> <time> サーバ停止": the server stopped.
std::string StopLogLine(const platform::TRegionalFormats& formats, std::time_t moment);

/// "<date> <time> <lock-out text> <address>": address failed to log in too often and is refused
/// for a while.
std::string LockOutLogLine(const platform::TRegionalFormats& formats, std::time_t moment, std::string_view address);

/// "exception : " and the class name of a caught error: the engine's own class name, or the
/// C++ type name of anything else.
std::string ExceptionLogLine(const std::exception& error);
