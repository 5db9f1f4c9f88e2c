#pragma once
// A client that asks for an answer and never reads it.

#include <string>

namespace hostile {

/// A connection from 127.0.0.1 that sends one request and never reads. Its receive buffer is
/// kept small, so the server's sends stall early.
class TNonReader {
public:
  TNonReader(int port, const std::string& request);
  ~TNonReader();
  TNonReader(const TNonReader&) = delete;
  TNonReader& operator=(const TNonReader&) = delete;

  bool Connected() const { return FConnected; }
  /// The first bytes of the answer, looked at without reading them: "" while none came.
  std::string Peek() const;

private:
  int FFd;
  bool FConnected = false;
};

}  // namespace hostile
