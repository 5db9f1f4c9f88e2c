#include "app/ListenFailure.h"

#include "app/OperatorText.h"
#include "http/net/IdException.h"
#include "http/net/IdStack.h"
#include "platform/Process.h"
#include "platform/Text.h"

namespace {

// The engine's message as one line, without the "Socket Error # <number>" line it may open with.
std::string Reason(const std::exception& error) {
  std::string text = error.what();
  if (dynamic_cast<const EIdSocketError*>(&error) != nullptr) {
    const std::size_t lineEnd = text.find('\n');
    text = lineEnd == std::string::npos ? std::string() : text.substr(lineEnd + 1);
  }
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) {
    const auto* engine = dynamic_cast<const EIdException*>(&error);
    text = engine != nullptr ? engine->ClassName() : "unknown error";
  }
  return platform::CodePageToUtf8(text);
}

std::string InUseText(const std::string& port, TPortHint hint) {
  const bool window = hint == TPortHint::Window;
  const std::string japanese = "ポート " + port + " は使用中です（別のプログラムか、もう一つの Velmora が使っています）。" +
                               "そのプログラムを終了するか、" +
                               (window ? "別のポート番号を選んでください。" : "--port で別のポートを指定してください。");
  const std::string english = "Port " + port + " is in use (by another program, or another Velmora): stop it, or " +
                              (window ? "choose another port number." : "choose another port with --port.");
  return Bilingual(japanese, english);
}

std::string NeedsPrivilegesText(const std::string& port, TPortHint hint) {
  const bool window = hint == TPortHint::Window;
  const std::string setcap =
      "sudo setcap cap_net_bind_service=+ep " + platform::CodePageToUtf8(platform::ExecutablePath());
  const std::string japanese = "ポート " + port + " を使うには権限が必要です。" +
                               (window ? "ポート番号を 8080 にするか、" : "--port 8080 を使うか、") + setcap +
                               " でこのプログラムに権限を与えてください。";
  const std::string english = "Port " + port + " needs privileges: " + (window ? "use port 8080" : "use --port 8080") +
                              ", or run with the right to bind ports below 1024 (" + setcap + ").";
  return Bilingual(japanese, english);
}

std::string AddressNotAvailableText(const std::string& port) {
  return Bilingual("ポート " + port + " で待ち受けるアドレスがこのマシンにありません。ネットワークの設定を確認してください。",
                   "No address of this machine is available to listen on port " + port +
                       ": check its network settings.");
}

std::string OtherText(const std::string& port, const std::string& reason) {
  return Bilingual("ポート " + port + " で待ち受けできません（" + reason + "）。",
                   "Cannot listen on port " + port + " (" + reason + ").");
}

}  // namespace

TListenFailure ListenFailureOf(const std::exception& error) {
  if (dynamic_cast<const EIdCouldNotBindSocket*>(&error) != nullptr) return TListenFailure::InUse;
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&error);
  if (socketError == nullptr) return TListenFailure::Other;
  switch (socketError->LastError) {
    case Id_WSAEADDRINUSE:
      return TListenFailure::InUse;
    case Id_WSAEACCES:
      return TListenFailure::NeedsPrivileges;
    case Id_WSAEADDRNOTAVAIL:
      return TListenFailure::AddressNotAvailable;
    default:
      return TListenFailure::Other;
  }
}

std::string ListenFailureText(const std::exception& error, int port, TPortHint hint) {
  const std::string number = std::to_string(port);
  switch (ListenFailureOf(error)) {
    case TListenFailure::InUse:
      return InUseText(number, hint);
    case TListenFailure::NeedsPrivileges:
      return NeedsPrivilegesText(number, hint);
    case TListenFailure::AddressNotAvailable:
      return AddressNotAvailableText(number);
    case TListenFailure::Other:
      break;
  }
  return OtherText(number, Reason(error));
}
