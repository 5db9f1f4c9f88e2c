#pragma once
// The command line of the program without a window.

#include <string>
#include <vector>

struct THeadlessOptions {
  int Port = 80;
  std::string UserName;
  std::string Password;
  std::string PasswordFile;  // the password is this file's first line
  bool ExcludeReadOnly = false;
  bool IncludeHidden = false;
  bool IncludeSystem = false;
  bool ExtensionFilter = false;
  std::string Extension;  // without the dot
  std::string Root;       // as given; empty when none was
  std::string AccessLog;  // the access log's file, "-" for standard output; empty: none
  bool Help = false;
  bool Version = false;
};

/// The usage text, ending in a line end.
extern const char* const kHeadlessUsage;

/// What --version prints, without a line end.
extern const char* const kVersionText;

/// Whether arg asks only for information (--help, -h, --version): answered the same with or
/// without --headless, and without a display.
bool IsInformationOption(const std::string& arg);

/// Parses the arguments that follow "--headless". Returns false, with the reason in error, for
/// an unknown option, an option without its value, a port outside 1..65535, both password
/// forms at once, or more than one root.
bool ParseHeadlessOptions(const std::vector<std::string>& args, THeadlessOptions& options, std::string& error);
