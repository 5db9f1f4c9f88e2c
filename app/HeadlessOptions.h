#pragma once
// The program's command line: which way it runs, and the options of the program without a
// window.

#include <string>
#include <vector>

struct THeadlessOptions {
  int Port = 0;  // as given; 0 when none was, and the default port applies
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
  bool KeepAlive = false;  // connections carry further requests
  bool Tls = false;       // HTTPS and plain HTTP on the same port
  std::string TlsCert;    // the operator's certificate chain (PEM); empty: the local authority's
  std::string TlsKey;     // its private key (PEM)
  bool Help = false;
  bool Version = false;

  bool operator==(const THeadlessOptions&) const = default;
};

/// The synopsis, ending in a line end; printed after a bad command line.
extern const char* const kHeadlessUsage;

/// What every option means and what it defaults to, ending in a line end; --help prints it
/// after the synopsis.
extern const char* const kOptionHelp;

/// What --version prints, without a line end.
extern const char* const kVersionText;

/// How the program runs: "--headless" anywhere asks for no window; otherwise --help, -h or
/// --version anywhere is answered without one (and without a display); otherwise the window
/// opens. Nothing after "--" counts.
enum class TRunMode { Window, Headless, Information };
TRunMode RunModeOf(const std::vector<std::string>& args);

/// Parses the command line after the program's name, options and the root in any order
/// ("--headless" among them or not). An option's value follows it as the next argument or
/// after "=" (--port=8080); after "--" every argument is the root. Returns false, with the
/// reason in error (one line, UTF-8, Japanese with the English beside it), for an unknown
/// option, an option without its value or with one it does not take, a port outside 1..65535,
/// both password forms at once, --tls-cert without --tls-key or the other way round, or more
/// than one root. --tls-cert and --tls-key turn --tls on.
bool ParseHeadlessOptions(const std::vector<std::string>& args, THeadlessOptions& options, std::string& error);
