#pragma once
// Checks many downloads of one file as their bytes arrive, without keeping a copy of any.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostile {

/// Each download must be a "200" head with the file's Content-Length, then exactly the file's
/// bytes. Fed by one thread.
class TDownloadCheck {
public:
  /// content must outlive the check.
  TDownloadCheck(const std::string& content, std::size_t count);

  /// The next bytes received on the index-th download.
  void Take(std::size_t index, std::string_view bytes);

  /// Downloads complete, with the right head and every byte equal to the file's.
  std::size_t Intact() const;
  /// Body bytes received on all downloads together.
  std::uint64_t BodyBytes() const { return FBodyBytes; }
  /// The first fault seen, empty when none (a download that merely ended short has none).
  const std::string& FirstFault() const { return FFirstFault; }

private:
  struct TDownload {
    std::string Head;  // until its empty line
    bool InBody = false;
    std::size_t Offset = 0;  // body bytes so far
    bool Faulty = false;
  };

  void TakeHead(std::size_t index, std::string_view& bytes);
  void TakeBody(std::size_t index, std::string_view bytes);
  void Fault(std::size_t index, const std::string& what);

  const std::string& FContent;
  const std::string FExpectedLength;  // the Content-Length line the head must carry
  std::vector<TDownload> FDownloads;
  std::uint64_t FBodyBytes = 0;
  std::string FFirstFault;
};

}  // namespace hostile
