#include "hostile/DownloadCheck.h"

#include <algorithm>
#include <cstring>

namespace hostile {

namespace {

constexpr std::size_t kLongestHead = 16 * 1024;

}  // namespace

TDownloadCheck::TDownloadCheck(const std::string& content, std::size_t count)
    : FContent(content),
      FExpectedLength("\r\nContent-Length: " + std::to_string(content.size()) + "\r\n"),
      FDownloads(count) {}

void TDownloadCheck::Take(std::size_t index, std::string_view bytes) {
  if (FDownloads[index].Faulty) return;
  if (!FDownloads[index].InBody) TakeHead(index, bytes);
  if (FDownloads[index].InBody && !FDownloads[index].Faulty) TakeBody(index, bytes);
}

// Moves the head's bytes from bytes into the download's head; what remains belongs to the body.
void TDownloadCheck::TakeHead(std::size_t index, std::string_view& bytes) {
  TDownload& download = FDownloads[index];
  const std::size_t before = download.Head.size();
  download.Head.append(bytes);
  const std::size_t end = download.Head.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (download.Head.size() > kLongestHead) Fault(index, "a head without end");
    bytes = std::string_view();
    return;
  }
  bytes.remove_prefix(end + 4 - before);
  download.Head.resize(end + 4);
  download.InBody = true;
  if (download.Head.compare(0, 13, "HTTP/1.1 200 ") != 0 || download.Head.find(FExpectedLength) == std::string::npos)
    Fault(index, "the head " + download.Head.substr(0, download.Head.find("\r\n")));
}

void TDownloadCheck::TakeBody(std::size_t index, std::string_view bytes) {
  TDownload& download = FDownloads[index];
  FBodyBytes += bytes.size();
  if (bytes.size() > FContent.size() - download.Offset) {
    Fault(index, "more bytes than the file holds");
    return;
  }
  if (std::memcmp(FContent.data() + download.Offset, bytes.data(), bytes.size()) != 0) {
    Fault(index, "bytes that differ from the file's after offset " + std::to_string(download.Offset));
    return;
  }
  download.Offset += bytes.size();
}

void TDownloadCheck::Fault(std::size_t index, const std::string& what) {
  FDownloads[index].Faulty = true;
  if (FFirstFault.empty()) FFirstFault = "download " + std::to_string(index) + ": " + what;
}

std::size_t TDownloadCheck::Intact() const {
  return static_cast<std::size_t>(std::count_if(FDownloads.begin(), FDownloads.end(), [this](const TDownload& d) {
    return d.InBody && !d.Faulty && d.Offset == FContent.size();
  }));
}

}  // namespace hostile
