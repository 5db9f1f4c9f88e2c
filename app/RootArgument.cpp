#include "app/RootArgument.h"

#include "platform/FileSystem.h"

std::string RootFromArgument(const std::string& argument) {
  const platform::TFileInfo info = platform::GetFileInfo(argument);
  if (!info.Readable())
    return {};
  if ((info.Attr & platform::faDirectory) != 0)
    return argument;
  const std::size_t slash = argument.rfind('/');
  // A bare file name lies in the working folder; an empty root would refuse to start.
  if (slash == std::string::npos)
    return "./";
  return argument.substr(0, slash + 1);
}
