#pragma once
// The rows of a browse answer as JSON, for scripts.

#include "publish/BodySink.h"
#include "publish/BrowsePage.h"

/// Writes the JSON form of the same rows to sink:
/// {"path": "/photos/", "total": N, "entries": [{"name", "type", "size", "modified"}...]},
/// with an "href" (the real bytes, percent-encoded) beside a name that had to be repaired.
void BrowseJson(TBodySink& sink, const TBrowseFolder& folder);
