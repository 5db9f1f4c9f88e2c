#pragma once
// Why the server could not listen, told to the operator in words: the engine's exception names
// the failed call and its error number, which says little to someone who only pressed start.
// Shared by the window and the headless runner; no Qt.

#include <exception>
#include <string>

/// The causes an operator can act on, and the rest.
enum class TListenFailure { InUse, NeedsPrivileges, AddressNotAvailable, Other };

/// The cause behind an exception of the server's start: in use for EIdCouldNotBindSocket or
/// the socket error 10048, needs privileges for 10013, address not available for 10049.
TListenFailure ListenFailureOf(const std::exception& error);

/// Where the operator reads the sentence, which decides how another port is suggested.
enum class TPortHint { Window, CommandLine };

/// One line, UTF-8, in Japanese with the English beside it: the port, the cause and what to try
/// (another port, or the capability to bind low ports for this program's executable). For
/// other causes the engine's text without its error number. Any thread.
std::string ListenFailureText(const std::exception& error, int port, TPortHint hint);
