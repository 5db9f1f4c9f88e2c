#pragma once
// Test helpers shared by the platform and publish tests: a temporary folder tree that removes
// itself, and scoped settings of the time zone and the system code page.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/CodePage.h"
#include "support/ScopedTimeZone.h"

namespace testing_tree {

/// A fresh folder below the temporary directory, removed with everything in it at the end.
class TTempTree {
public:
  TTempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempTree(const TTempTree&) = delete;
  TTempTree& operator=(const TTempTree&) = delete;

  /// The tree's own folder, without a trailing "/".
  const std::string& Path() const { return FPath; }

  /// The full path of a name relative to the tree.
  std::string At(const std::string& relative) const { return FPath + "/" + relative; }

  /// Writes a file with the given content and, when given, last-write time.
  std::string File(const std::string& relative, const std::string& content = "",
                   std::optional<std::time_t> time = std::nullopt) const {
    std::ofstream(At(relative), std::ios::binary) << content;
    if (time) SetTime(relative, *time);
    return At(relative);
  }

  std::string Folder(const std::string& relative, std::optional<std::time_t> time = std::nullopt) const {
    std::filesystem::create_directories(At(relative));
    if (time) SetTime(relative, *time);
    return At(relative);
  }

  void Link(const std::string& relative, const std::string& target) const {
    std::filesystem::create_symlink(target, At(relative));
  }

  /// Sets the last-write time; "" stands for the tree's own folder.
  void SetTime(const std::string& relative, std::time_t time) const {
    const timespec times[2] = {{time, 0}, {time, 0}};
    utimensat(AT_FDCWD, relative.empty() ? FPath.c_str() : At(relative).c_str(), times, 0);
  }

private:
  std::string FPath;
};

/// Sets the system code page for the scope and restores the one before.
class TScopedCodePage {
public:
  explicit TScopedCodePage(platform::TCodePage codePage) : FOld(platform::SystemCodePage()) {
    platform::SetSystemCodePage(codePage);
  }
  ~TScopedCodePage() { platform::SetSystemCodePage(FOld); }
  TScopedCodePage(const TScopedCodePage&) = delete;
  TScopedCodePage& operator=(const TScopedCodePage&) = delete;

private:
  platform::TCodePage FOld;
};

/// A broken-down time from its calendar and clock parts (tm_isdst -1: unknown).
inline std::tm Tm(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

/// The moment of a local wall-clock time in the time zone in force.
inline std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
  std::tm local = Tm(year, month, day, hour, minute, second);
  return std::mktime(&local);
}

}  // namespace testing_tree
