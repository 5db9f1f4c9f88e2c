#pragma once
// The entries of one folder as every page of it shows them, and how a page names and links one.

#include <string>
#include <string_view>

#include "platform/FindEntries.h"
#include "publish/WithheldRule.h"

/// The entries of folder that rule does not withhold, in the folder's order ("." and ".."
/// included): hidden and system entries as its mask says, files also by the extension filter,
/// folders never by it, so that everything below the root stays reachable. A folder that cannot
/// be read gives none. Any thread.
platform::TFolderEntries PublishedEntries(const std::string& folder, const TWithheldRule& rule);

/// Whether entry is a folder that could be looked at.
bool IsPublishedFolder(const platform::TFileInfo& entry);

/// The link target of a name, appended to out: the name's UTF-8 form percent-encoded (the
/// request handler converts it back to the code page), or its own bytes when the code page
/// cannot read it, as its UTF-8 form would name another entry.
void AppendLinkTarget(std::string& out, std::string_view name);
