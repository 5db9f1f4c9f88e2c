#pragma once
// The forms of the activity log's lines, shared by every host of the server.

#include <exception>
#include <string>
#include <string_view>

#include "platform/RegionalFormats.h"

/// "<date> <time> <text>": now, in the user's short date and long time formats. Any thread.
std::string StampedLogLine(const platform::TRegionalFormats& formats, std::string_view text);

/// The line logged when the server starts ("<date> <time> サーバ起動"), in the system code page.
std::string StartLogLine(const platform::TRegionalFormats& formats);

/// The line logged when the server stops ("<date> <time> サーバ停止"), in the system code page.
std::string StopLogLine(const platform::TRegionalFormats& formats);

/// "exception : " and the class name of a caught error: the engine's own class name, or
/// "Exception" for anything else.
std::string ExceptionLogLine(const std::exception& error);
