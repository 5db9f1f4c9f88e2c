#pragma once
// The engine's exception tree. Every class carries its class name for the log
// ("exception : " + ClassName()) and, where the engine raises it with a fixed text,
// a default constructor with that text.

#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
public:
  EIdException() : std::runtime_error("") {}
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "EIdException"; }
};

#define ID_DECLARE_EXCEPTION(Name, Base, defaultText)                     \
  class Name : public Base {                                              \
  public:                                                                 \
    Name() : Base(defaultText) {}                                         \
    explicit Name(const std::string& message) : Base(message) {}          \
    const char* ClassName() const noexcept override { return #Name; }     \
  };

/// A socket call failed; LastError is the Windows sockets number of the failure and the
/// message reads "Socket Error # <number>\r\n<text>".
class EIdSocketError : public EIdException {
public:
  EIdSocketError(int lastError, const std::string& message) : EIdException(message), LastError(lastError) {}
  int LastError;
  const char* ClassName() const noexcept override { return "EIdSocketError"; }
};

// Ends a connection without being worth a report.
ID_DECLARE_EXCEPTION(EIdSilentException, EIdException, "")
ID_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.")

// Connection I/O
ID_DECLARE_EXCEPTION(EIdClosedSocket, EIdException, "Disconnected.")
ID_DECLARE_EXCEPTION(EIdReadTimeout, EIdException, "Read Timeout")
ID_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.")
ID_DECLARE_EXCEPTION(EIdInvalidSocket, EIdException, "Cannot allocate socket.")
ID_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException, "Not enough data in buffer.")
ID_DECLARE_EXCEPTION(EIdObjectTypeNotSupported, EIdException, "Object type not supported.")
ID_DECLARE_EXCEPTION(EIdTCPConnectionError, EIdException, "")
ID_DECLARE_EXCEPTION(EIdNotConnected, EIdTCPConnectionError, "Not Connected")
ID_DECLARE_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.")
ID_DECLARE_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError, "")  // "File \"<name>\" not found"

// TLS: a certificate, key or setting the library refuses; the message says which and why.
ID_DECLARE_EXCEPTION(EIdOSSLError, EIdException, "")

// Socket handles and bindings
ID_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException, "")
ID_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError,
                     "Could not bind socket. Address and port are already in use.")
ID_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError, "")      // "Invalid Port Range (%d - %d)"
ID_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError, "") // "Can not bind in port range (%d - %d)"

// The socket stack
ID_DECLARE_EXCEPTION(EIdStackError, EIdException, "")
ID_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError, "Winsock Initialization Error.")
ID_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.")
ID_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdStackError, "")           // "%s is not a valid service."

// Server and threads
ID_DECLARE_EXCEPTION(EIdTCPServerError, EIdException, "")
ID_DECLARE_EXCEPTION(EIdNoExecuteSpecified, EIdTCPServerError, "No execute handler found.")
ID_DECLARE_EXCEPTION(EIdTerminateThreadTimeout, EIdTCPServerError, "Terminate Thread Timeout")
ID_DECLARE_EXCEPTION(EIdThreadException, EIdException, "")
ID_DECLARE_EXCEPTION(EIdThreadTerminateAndWaitFor, EIdThreadException,
                     "Cannot call TerminateAndWaitFor on FreeAndTerminate threads")
ID_DECLARE_EXCEPTION(EIdThreadClassNotSpecified, EIdThreadException, "Thread Class Not Specified.")

// HTTP server
ID_DECLARE_EXCEPTION(EIdHTTPServerError, EIdException, "")
ID_DECLARE_EXCEPTION(EIdHTTPErrorParsingCommand, EIdHTTPServerError, "Error in parsing command.")
ID_DECLARE_EXCEPTION(EIdHTTPCannotSwitchSessionStateWhenActive, EIdHTTPServerError,
                     "Cannot change session state when the server is active.")
ID_DECLARE_EXCEPTION(EIdHTTPHeaderAlreadyWritten, EIdHTTPServerError, "Header has already been written.")
// An answer that cannot be built now (every build slot taken, or the temporary space used up):
// the client is told to come back shortly.
ID_DECLARE_EXCEPTION(EIdServerBusy, EIdHTTPServerError, "Server busy.")
// Requests refused before the handler runs: the connection is closed without an answer.
ID_DECLARE_EXCEPTION(EIdHTTPHeadTooLarge, EIdHTTPServerError, "Request head too large.")
ID_DECLARE_EXCEPTION(EIdHTTPBodyTooLarge, EIdHTTPServerError, "Request body too large.")
ID_DECLARE_EXCEPTION(EIdHTTPTooManyParameters, EIdHTTPServerError, "Too many parameters.")
ID_DECLARE_EXCEPTION(EIdHTTPTransferEncodingNotSupported, EIdHTTPServerError, "Transfer-Encoding is not supported.")
ID_DECLARE_EXCEPTION(EIdHTTPInvalidRequestTarget, EIdHTTPServerError, "Invalid request target.")

// Files: a file could not be opened; the message names the full file name and the system's
// error text.
ID_DECLARE_EXCEPTION(EFOpenError, EIdException, "")
// Images: a file that is no image of a known format, is damaged, or is too large to decode; the
// message says which.
ID_DECLARE_EXCEPTION(EIdImageError, EIdException, "")
// A file of a folder archive no longer has the size or modification time the archive's layout
// was made with; the message names the file.
ID_DECLARE_EXCEPTION(EIdFileChanged, EIdException, "File changed.")

// Dates
ID_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException,
                     "Failed attempting to retrieve time zone information.")

#undef ID_DECLARE_EXCEPTION
