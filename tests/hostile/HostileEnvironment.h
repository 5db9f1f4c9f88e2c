#pragma once
// What every hostile-client test shares: the published tree, the one server they all attack
// and the figures they print.

#include <gtest/gtest.h>

#include <string>

#include "hostile/ServerProcess.h"

namespace hostile {

constexpr long kKiBPerMiB = 1024;

// The published tree: an ordinary file, a large one, and withheld files whose contents must
// never appear in any answer.
constexpr char kPlainPath[] = "/a.txt";
constexpr char kPlainContent[] = "hello";
constexpr char kBigPath[] = "/big.bin";
constexpr std::size_t kBigSize = 50 * 1024 * 1024;
struct TWithheldFile {
  const char* Path;
  const char* Content;
};
inline constexpr TWithheldFile kWithheldFiles[] = {
    {".env", "withheld-dotenv-5f1c"},
    {".ssh/id_rsa", "withheld-ssh-key-9a7e"},
    {".git/config", "withheld-git-config-3b2d"},
    {"a/.hidden/b.txt", "withheld-below-hidden-c84f"},
};
// Names that no listing or index may show while hidden entries are withheld.
inline constexpr const char* kWithheldNames[] = {".env", ".ssh", "id_rsa", ".git", ".hidden", "b.txt"};

/// "<method> <target> HTTP/1.1" with a Host line and the extra header lines, then the empty line.
std::string Request(const std::string& method, const std::string& target, const std::string& headers = "");

/// Builds the tree in a temporary folder, raises this process's open-file limit for the
/// crowds, and starts the server with the limit that this process was given. At the end it
/// stops the server with SIGTERM and checks its exit and its last log line.
class THostileEnvironment : public testing::Environment {
public:
  void SetUp() override;
  void TearDown() override;

  /// The server, started afresh when the one before has ended (killed by the memory guard,
  /// crashed), so that one failure does not hide what the next test sees. Test thread only.
  static TServerProcess& Server();
  /// The large file's bytes.
  static const std::string& BigContent();
};

/// Whether the server answers a plain GET of the ordinary file with its content, trying again
/// for up to 5 s while connections it just lost are still being closed.
testing::AssertionResult ServesNormally(const TServerProcess& server);

/// "the server ended", and why when the memory guard ended it.
std::string HowItEnded(const TServerProcess& server);
/// "; resident <before>, <peak since the last ResetPeak>, <now>", or how the server ended.
std::string MemoryFigures(const TServerProcess& server, long beforeKiB);

/// Prints one line of figures so that it can be quoted.
void Report(const std::string& line);
/// The text printf would write.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
double MiB(long kib);

}  // namespace hostile
