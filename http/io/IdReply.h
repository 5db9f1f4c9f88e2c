#pragma once
// A numbered reply of a text protocol: the server's greeting and its answer to a client refused
// by the connection limit. Both are empty in an HTTP server, and an empty reply is never written.

#include <string>
#include <vector>

struct TIdReply {
  int NumericCode = 0;
  std::vector<std::string> Text;

  bool IsEmpty() const { return NumericCode <= 0 && Text.empty(); }

  /// "<code> <text>" lines, every line but the last with "-" after the code; without a code
  /// only the lines; each line ends in CR LF.
  std::string FormattedReply() const {
    const std::string code = NumericCode > 0 ? std::to_string(NumericCode) : std::string();
    if (Text.empty()) return code + "\r\n";
    std::string reply;
    for (std::size_t i = 0; i < Text.size(); ++i) {
      if (!code.empty()) reply += code + (i + 1 < Text.size() ? "-" : " ");
      reply += Text[i] + "\r\n";
    }
    return reply;
  }
};
