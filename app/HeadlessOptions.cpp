#include "app/HeadlessOptions.h"

#include <charconv>

const char* const kHeadlessUsage =
    "usage: velmora --headless [--port N] [--user NAME] [--password PASS | --password-file FILE]\n"
    "                          [--exclude-readonly] [--include-hidden] [--include-system] [--ext EXT] ROOT\n"
    "       velmora [ROOT]     (with a window)\n"
    "       velmora --help | --version\n";

const char* const kVersionText = "Velmora 1.0";

namespace {

bool ParsePort(const std::string& text, int& port) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || last != end || value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool IsInformationOption(const std::string& arg) {
  return arg == "--help" || arg == "-h" || arg == "--version";
}

bool ParseHeadlessOptions(const std::vector<std::string>& args, THeadlessOptions& options, std::string& error) {
  bool rootSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string& target) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      target = args[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--version") {
      options.Version = true;
    } else if (arg == "--port") {
      std::string text;
      if (!value(text)) return false;
      if (!ParsePort(text, options.Port)) {
        error = "bad port: " + text + " (1 to 65535)";
        return false;
      }
    } else if (arg == "--user") {
      if (!value(options.UserName)) return false;
    } else if (arg == "--password") {
      if (!value(options.Password)) return false;
    } else if (arg == "--password-file") {
      if (!value(options.PasswordFile)) return false;
    } else if (arg == "--access-log") {
      if (!value(options.AccessLog)) return false;
      if (options.AccessLog.empty()) {
        error = "--access-log needs a file name, or - for standard output";
        return false;
      }
    } else if (arg == "--exclude-readonly") {
      options.ExcludeReadOnly = true;
    } else if (arg == "--include-hidden") {
      options.IncludeHidden = true;
    } else if (arg == "--include-system") {
      options.IncludeSystem = true;
    } else if (arg == "--ext") {
      if (!value(options.Extension)) return false;
      if (!options.Extension.empty() && options.Extension.front() == '.') options.Extension.erase(0, 1);
      options.ExtensionFilter = true;
    } else if (arg.size() > 1 && arg.front() == '-') {
      error = "unknown option: " + arg;
      return false;
    } else if (rootSeen) {
      error = "only one root folder: " + arg;
      return false;
    } else {
      options.Root = arg;
      rootSeen = true;
    }
  }
  if (!options.Password.empty() && !options.PasswordFile.empty()) {
    error = "--password and --password-file exclude each other";
    return false;
  }
  return true;
}
