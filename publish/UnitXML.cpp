#include "publish/UnitXML.h"

#include <vector>

#include "platform/FileSystem.h"
#include "publish/IndexParts.h"
#include "publish/IndexWriter.h"
#include "publish/TreeWalk.h"

void BuildFileIndex(TBodySink& sink, const std::string& folder, const TWithheldRule& rule, std::size_t helpers) {
  TFileIndexWriter writer(sink);
  const TTreeWalk walk(rule);
  TTreeWalk::TWalked walked;
  const platform::TFileInfo root = platform::GetFileInfo(folder);
  if (root.Readable()) walked.insert(root.Id);
  const platform::TFolderEntries entries = walk.Entries(folder);
  std::vector<platform::TSearchRec> folders;
  for (const platform::TSearchRec& entry : entries) {
    if ((entry.Attr & platform::faDirectory) != 0) folders.push_back(entry);
  }
  TIndexParts parts(walk, folder, std::move(folders), walked, sink.Space(), sink.MemoryLimit(), helpers);
  std::size_t nextPart = 0;
  for (const platform::TSearchRec& entry : entries) {
    if ((entry.Attr & platform::faDirectory) != 0) {
      writer.AddPart(*parts.Take(nextPart++, walked));
    } else {
      writer.AddFile("\\" + entry.Name, entry);
    }
  }
  writer.Finish();
}
