#include "app/RootArgument.h"

#include <sys/stat.h>

std::string RootFromArgument(const std::string& argument) {
  struct stat info {};
  if (argument.empty() || ::stat(argument.c_str(), &info) != 0)
    return {};
  if (S_ISDIR(info.st_mode))
    return argument;
  const std::size_t slash = argument.rfind('/');
  // A bare file name lies in the working folder; an empty root would refuse to start.
  if (slash == std::string::npos)
    return "./";
  return argument.substr(0, slash + 1);
}
