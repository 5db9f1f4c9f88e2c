#pragma once
// The listing and the index as text, for tests that compare pages and documents.

#include <cstddef>
#include <cstdint>
#include <string>

#include "publish/BodySink.h"
#include "publish/ListingPage.h"
#include "publish/UnitXML.h"

namespace built_text {

inline TTempSpace& Space() {
  static TTempSpace space(std::int64_t{1} << 30);
  return space;
}

/// The index of folder, withholding what mask names, built with helpers threads into a sink
/// that keeps memoryLimit bytes in memory.
inline std::string IndexText(const std::string& folder, std::uint32_t mask, std::size_t helpers = 1,
                             std::size_t memoryLimit = kBodyMemoryLimit) {
  TBodySink sink(Space(), memoryLimit);
  BuildFileIndex(sink, folder, TWithheldRule{mask, false, ""}, helpers);
  return sink.Contents();
}

inline std::string IndexText(const std::string& folder, const TWithheldRule& rule, std::size_t helpers = 1,
                             std::size_t memoryLimit = kBodyMemoryLimit) {
  TBodySink sink(Space(), memoryLimit);
  BuildFileIndex(sink, folder, rule, helpers);
  return sink.Contents();
}

inline std::string ListingText(const std::string& folder, const TPublishSettings& settings,
                               const platform::TRegionalFormats& formats, std::size_t memoryLimit = kBodyMemoryLimit) {
  TBodySink sink(Space(), memoryLimit);
  ListingPage(sink, folder, settings, formats);
  return sink.Contents();
}

}  // namespace built_text
