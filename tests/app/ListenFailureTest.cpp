#include "app/ListenFailure.h"

#include <gtest/gtest.h>

#include "AppTestSupport.h"

#include <cctype>
#include <functional>

#include "http/net/IdException.h"

namespace {

// The failures the engine raises on a start, each as the stack words it.
struct TCase {
  const char* Name;
  std::function<void()> Raise;
  TListenFailure Cause;
  const char* English;  // how the English half begins, for port 8081
};

const TCase kCases[] = {
    {"taken", [] { throw EIdCouldNotBindSocket(); }, TListenFailure::InUse,
     "Port 8081 is in use (by another program, or another Velmora)"},
    {"10048", [] { throw EIdSocketError(10048, "Socket Error # 10048\r\nAddress already in use."); },
     TListenFailure::InUse, "Port 8081 is in use"},
    {"10013", [] { throw EIdSocketError(10013, "Socket Error # 10013\r\nAccess denied."); },
     TListenFailure::NeedsPrivileges, "Port 8081 needs privileges: "},
    {"10049", [] { throw EIdSocketError(10049, "Socket Error # 10049\r\nCannot assign requested address."); },
     TListenFailure::AddressNotAvailable, "No address of this machine is available to listen on port 8081"},
    {"10024", [] { throw EIdSocketError(10024, "Socket Error # 10024\r\nToo many open files."); },
     TListenFailure::Other, "Cannot listen on port 8081 (Too many open files.)."},
    {"10005", [] { throw EIdSocketError(10005, "Socket Error # 10005\r\n"); }, TListenFailure::Other,
     "Cannot listen on port 8081 (EIdSocketError)."},
    {"other", [] { throw std::runtime_error("out of memory\nat start"); }, TListenFailure::Other,
     "Cannot listen on port 8081 (out of memory at start)."},
};

// One line, Japanese and then English, naming the port, never the engine's error number.
TEST(ListenFailure, EveryCauseIsOneBilingualLineWithoutTheErrorNumber) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    try {
      c.Raise();
    } catch (const std::exception& error) {
      EXPECT_EQ(c.Cause, ListenFailureOf(error));
      for (const TPortHint hint : {TPortHint::Window, TPortHint::CommandLine}) {
        const std::string text = ListenFailureText(error, 8081, hint);
        const std::size_t divide = text.find(" / ");
        ASSERT_NE(std::string::npos, divide) << text;
        const std::string japanese = text.substr(0, divide), english = text.substr(divide + 3);
        EXPECT_FALSE(IsAscii(japanese)) << text;
        EXPECT_NE(std::string::npos, japanese.find("ポート 8081 ")) << text;
        EXPECT_EQ(0u, english.find(c.English)) << text;
        EXPECT_EQ(std::string::npos, text.find('\n')) << text;
        EXPECT_EQ(std::string::npos, text.find("Socket Error")) << text;
        if (std::isdigit(static_cast<unsigned char>(c.Name[0]))) {
          EXPECT_EQ(std::string::npos, text.find(c.Name)) << text;
        }
      }
    }
  }
}

// What to try depends on where the operator reads it: a port number in the window, --port on
// the command line; a low port also offers the capability for this very program.
TEST(ListenFailure, SuggestsWhatToTryWhereTheOperatorReadsIt) {
  const EIdSocketError denied(10013, "Socket Error # 10013\r\nAccess denied.");
  const std::string window = ListenFailureText(denied, 80, TPortHint::Window);
  const std::string command = ListenFailureText(denied, 80, TPortHint::CommandLine);
  EXPECT_NE(std::string::npos, window.find("use port 8080, or run with the right to bind ports below 1024")) << window;
  EXPECT_NE(std::string::npos, command.find("use --port 8080, or run with the right to bind ports below 1024"))
      << command;
  for (const std::string& text : {window, command}) {
    EXPECT_NE(std::string::npos, text.find("sudo setcap cap_net_bind_service=+ep /")) << text;
    EXPECT_NE(std::string::npos, text.find("app_tests")) << text;  // the running executable
  }
  const EIdCouldNotBindSocket taken;
  EXPECT_NE(std::string::npos, ListenFailureText(taken, 8080, TPortHint::CommandLine).find("with --port"));
  EXPECT_EQ(std::string::npos, ListenFailureText(taken, 8080, TPortHint::Window).find("--port"));
}

}  // namespace
