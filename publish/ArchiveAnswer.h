#pragma once
// A folder answered as one archive (zip or tar of everything below it): which entries it holds,
// what the download is called, and how the archive goes out over the connection.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/io/IdTCPConnection.h"
#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdHTTPResponseInfo.h"
#include "publish/ArchiveLayout.h"
#include "publish/TreeWalk.h"

/// The archive a folder URL's query asks for: exactly "zip" or "tar"; none for any other query.
std::optional<TArchiveFormat> ArchiveFormatOf(std::string_view query);

/// The archive's top folder for folder (a full path): its last segment, or "root" for "/".
std::string ArchiveTopName(const std::string& folder);

/// The entries of the archive of folder (a full path): the folder itself as topName, then
/// everything walk reports below it, in the walk's order, each folder before what it holds,
/// except files that cannot be opened for reading; a folder met again through a link is an
/// empty folder. Paths are topName and the names below
/// it joined with "/". Any thread.
std::vector<TArchiveEntry> CollectArchiveEntries(const TTreeWalk& walk, const std::string& folder,
                                                 const std::string& topName);

/// Answers request with layout, downloaded as fileName: the whole archive, a range of it, or that
/// the client's copy is still good, as for a file, with the layout's entity tag and the
/// Last-Modified of its newest entry. HEAD gets the head alone. Throws EIdFileChanged when a file
/// no longer matches its entry while it is sent, and the errors of crc and of the connection's
/// writes; the head may have gone out by then (response.HeaderWritten).
void SendArchiveAnswer(TIdTCPConnection& connection, const TIdHTTPRequestInfo& request,
                       TIdHTTPResponseInfo& response, const TArchiveLayout& layout, ICrcSource& crc,
                       std::string_view fileName);
