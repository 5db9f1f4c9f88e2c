#pragma once
// What the operator's settings withhold: the one rule of the request handler, the listing and
// the walks of a folder tree.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "publish/PublishSettings.h"

/// Which entries one set of settings withholds. Files are withheld by any bit of Mask and, with
/// the extension filter on, by an extension other than Extension; folders only by the hidden
/// and system bits, so that what matches below them stays reachable. A value; any thread.
struct TWithheldRule {
  std::uint32_t Mask = 0;  // read-only, hidden and system bits, each when excluded
  bool ExtensionFilter = false;
  std::string Extension;  // without the dot

  /// Whether name passes the extension filter (always when it is off): it ends in "." and the
  /// extension, ASCII letter case aside.
  bool PassesExtension(std::string_view name) const;
  /// Whether a file (any entry but a folder) with this status and name is withheld.
  bool WithholdsFile(const platform::TFileInfo& info, std::string_view name) const;
  /// Whether a folder with this status is withheld: its write permission never counts.
  bool WithholdsFolder(const platform::TFileInfo& info) const;
};

TWithheldRule WithheldRuleOf(const TPublishSettings& settings);
