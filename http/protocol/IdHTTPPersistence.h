#pragma once
// What a request head says about its connection: whether the client keeps it for another
// request, and whether the head frames its body beyond doubt, as a connection that carries more
// than one request needs.

#include <string>
#include <vector>

/// Whether the client means to send another request on the connection: for "HTTP/1.1" unless a
/// "Connection" header lists "close", for "HTTP/1.0" only when one lists "keep-alive", for any
/// other version never. Tokens are compared in any letter case.
bool ClientKeepsConnection(const std::string& version, const std::vector<std::string>& connectionValues);

/// Whether the raw header lines leave room for two readings of where the body ends, so that a
/// request could hide inside another: two "Content-Length" values that differ, one that is not
/// plain decimal digits, any "Transfer-Encoding", or a space or tab before a header line's colon
/// (a folded continuation line among them).
bool HasAmbiguousFraming(const std::vector<std::string>& headerLines);
