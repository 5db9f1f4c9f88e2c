#include "app/HeadlessOptions.h"

#include <charconv>

#include "app/OperatorText.h"
#include "platform/Text.h"

const char* const kHeadlessUsage =
    "usage: velmora --headless [--port N] [--user NAME] [--password PASS | --password-file FILE]\n"
    "                          [--exclude-readonly] [--include-hidden] [--include-system] [--ext EXT]\n"
    "                          [--access-log FILE] [--keep-alive]\n"
    "                          [--tls [--tls-cert FILE --tls-key FILE]] ROOT\n"
    "       velmora [ROOT]     (with a window)\n"
    "       velmora --help | --version\n";

const char* const kOptionHelp =
    "\n"
    "Publishes the folder ROOT (or the folder of the file ROOT) over HTTP. Options and ROOT come\n"
    "in any order; a value follows its option or an \"=\" (--port=8080); \"--\" ends the options.\n"
    "\n"
    "  --headless             no window: log to standard output, stop with Ctrl-C or SIGTERM\n"
    "  --port N               the TCP port, 1 to 65535. Default: 80 when this process may bind it\n"
    "                         (as root, with CAP_NET_BIND_SERVICE, or when the system's\n"
    "                         net.ipv4.ip_unprivileged_port_start is 80 or less), else 8080\n"
    "  --user NAME            browsers must log in with this name and the password (default: none)\n"
    "  --password PASS        the password; it shows in the process list, --password-file does not\n"
    "  --password-file FILE   the password is the first line of FILE\n"
    "  --exclude-readonly     withhold read-only files (default: served)\n"
    "  --include-hidden       serve hidden files and folders, names starting with \".\"\n"
    "                         (default: withheld)\n"
    "  --include-system       serve devices, FIFOs and sockets (default: withheld)\n"
    "  --ext EXT              publish only files named *.EXT, besides folders: every other file is\n"
    "                         withheld on every route (default: every file)\n"
    "  --access-log FILE      append a combined-format access log to FILE (\"-\": standard output);\n"
    "                         SIGHUP reopens it\n"
    "  --keep-alive           keep connections open for further requests, closed after 5 s idle\n"
    "                         or 100 requests (default: one request per connection)\n"
    "  --tls                  HTTPS on the same port: plain HTTP requests are redirected to it;\n"
    "                         the certificate comes from a certificate authority of this user,\n"
    "                         made the first time (http://ADDRESS:PORT/?ca gives it to devices)\n"
    "  --tls-cert FILE        with --tls-key: use this certificate chain (PEM) instead\n"
    "  --tls-key FILE         the private key (PEM) of --tls-cert\n"
    "  -h, --help             print this help\n"
    "  --version              print the version\n"
    "\n"
    "Exit status: 0 after a stop by signal, 1 when the server cannot listen, 2 for a bad command\n"
    "line or a root that is not there.\n";

const char* const kVersionText = "Velmora 1.0";

namespace {

constexpr const char* kEndOfOptions = "--";

// An argument as it may appear in a message: UTF-8, whatever the system code page.
std::string Shown(const std::string& arg) {
  return platform::CodePageToUtf8(arg);
}

bool IsInformationOption(const std::string& arg) {
  return arg == "--help" || arg == "-h" || arg == "--version";
}

bool ParsePort(const std::string& text, int& port) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || last != end || value < 1 || value > 65535) return false;
  port = value;
  return true;
}

/// One option of the command line. Adding an option takes a row here, its field in
/// THeadlessOptions and its line in kOptionHelp.
struct TOptionRule {
  const char* Name;
  bool TakesValue;
  /// Applies the option with its value (empty for a flag); false, with error set, when the
  /// value is refused.
  bool (*Apply)(THeadlessOptions& options, const std::string& value, std::string& error);
};

using TOptions = THeadlessOptions;

const TOptionRule kOptionRules[] = {
    {"--headless", false, [](TOptions&, const std::string&, std::string&) { return true; }},
    {"--help", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.Help = true;
       return true;
     }},
    {"-h", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.Help = true;
       return true;
     }},
    {"--version", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.Version = true;
       return true;
     }},
    {"--port", true,
     [](TOptions& o, const std::string& value, std::string& error) {
       if (ParsePort(value, o.Port)) return true;
       error = Bilingual("ポート番号が正しくありません: " + Shown(value) + "（1 から 65535）",
                         "bad port: " + Shown(value) + " (1 to 65535)");
       return false;
     }},
    {"--user", true,
     [](TOptions& o, const std::string& value, std::string&) {
       o.UserName = value;
       return true;
     }},
    {"--password", true,
     [](TOptions& o, const std::string& value, std::string&) {
       o.Password = value;
       return true;
     }},
    {"--password-file", true,
     [](TOptions& o, const std::string& value, std::string&) {
       o.PasswordFile = value;
       return true;
     }},
    {"--access-log", true,
     [](TOptions& o, const std::string& value, std::string& error) {
       if (value.empty()) {
         error = Bilingual("--access-log にはファイル名か標準出力の - が必要です",
                           "--access-log needs a file name, or - for standard output");
         return false;
       }
       o.AccessLog = value;
       return true;
     }},
    {"--exclude-readonly", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.ExcludeReadOnly = true;
       return true;
     }},
    {"--include-hidden", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.IncludeHidden = true;
       return true;
     }},
    {"--include-system", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.IncludeSystem = true;
       return true;
     }},
    {"--keep-alive", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.KeepAlive = true;
       return true;
     }},
    {"--tls", false,
     [](TOptions& o, const std::string&, std::string&) {
       o.Tls = true;
       return true;
     }},
    {"--tls-cert", true,
     [](TOptions& o, const std::string& value, std::string&) {
       o.TlsCert = value;
       o.Tls = true;
       return true;
     }},
    {"--tls-key", true,
     [](TOptions& o, const std::string& value, std::string&) {
       o.TlsKey = value;
       o.Tls = true;
       return true;
     }},
    {"--ext", true,
     [](TOptions& o, const std::string& value, std::string&) {
       // A leading dot is forgiven.
       o.Extension = !value.empty() && value.front() == '.' ? value.substr(1) : value;
       o.ExtensionFilter = true;
       return true;
     }},
};

const TOptionRule* RuleNamed(const std::string& name) {
  for (const TOptionRule& rule : kOptionRules)
    if (name == rule.Name) return &rule;
  return nullptr;
}

bool TakeRoot(const std::string& arg, THeadlessOptions& options, bool& rootSeen, std::string& error) {
  if (rootSeen) {
    error = Bilingual("ルートフォルダは一つだけです: " + Shown(arg), "only one root folder: " + Shown(arg));
    return false;
  }
  options.Root = arg;
  rootSeen = true;
  return true;
}

}  // namespace

TRunMode RunModeOf(const std::vector<std::string>& args) {
  bool information = false;
  for (const std::string& arg : args) {
    if (arg == kEndOfOptions) break;
    if (arg == "--headless") return TRunMode::Headless;
    information = information || IsInformationOption(arg);
  }
  return information ? TRunMode::Information : TRunMode::Window;
}

bool ParseHeadlessOptions(const std::vector<std::string>& args, THeadlessOptions& options, std::string& error) {
  bool rootSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == kEndOfOptions) {
      for (++i; i < args.size(); ++i)
        if (!TakeRoot(args[i], options, rootSeen, error)) return false;
      break;
    }
    if (arg.size() < 2 || arg.front() != '-') {
      if (!TakeRoot(arg, options, rootSeen, error)) return false;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const TOptionRule* rule = RuleNamed(name);
    if (rule == nullptr) {
      error = Bilingual("不明なオプションです: " + Shown(arg), "unknown option: " + Shown(arg));
      return false;
    }
    std::string value;
    if (equals != std::string::npos && !rule->TakesValue) {
      error = Bilingual(name + " は値を取りません", name + " takes no value");
      return false;
    }
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (rule->TakesValue) {
      if (i + 1 >= args.size()) {
        error = Bilingual(name + " には値が必要です", name + " needs a value");
        return false;
      }
      value = args[++i];
    }
    if (!rule->Apply(options, value, error)) return false;
  }
  if (!options.Password.empty() && !options.PasswordFile.empty()) {
    error = Bilingual("--password と --password-file は同時に使えません",
                      "--password and --password-file exclude each other");
    return false;
  }
  if (options.TlsCert.empty() != options.TlsKey.empty()) {
    error = Bilingual("--tls-cert と --tls-key は一緒に指定してください",
                      "--tls-cert and --tls-key go together");
    return false;
  }
  return true;
}
