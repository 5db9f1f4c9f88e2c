#include "publish/UnitXML.h"

#include <libxml/parser.h>
#include <libxml/xmlwriter.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "http/IdException.h"
#include "platform/FileDate.h"
#include "platform/FilePath.h"
#include "platform/FindEntries.h"
#include "platform/Text.h"

namespace {

struct TBufferFree {
  void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};
struct TWriterFree {
  void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
};
using TBuffer = std::unique_ptr<xmlBuffer, TBufferFree>;
using TWriter = std::unique_ptr<xmlTextWriter, TWriterFree>;

const xmlChar* Xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

void Check(int result) {
  if (result < 0) throw EIdException("The XML writer failed.");
}

// libxml2 sets up its tables (encodings among them) on first use, which is not safe from two
// threads at once; do it once before any build goes on.
void InitXmlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

void WriteAttribute(xmlTextWriter* writer, const char* name, const std::string& value) {
  Check(xmlTextWriterWriteAttribute(writer, Xml(name), Xml(value.c_str())));
}

// The element in which the walk currently writes entries, and the folders on the way down to
// it (device and inode), so that a link back up the tree is never entered twice.
struct TWalk {
  xmlTextWriter* Writer;
  std::vector<platform::TFileId> Path;
};

// Writes the elements for the entries of diskFolder, the folder that relative names below the
// indexed folder ("" for the indexed folder itself, else "\" and its segments, already widened
// to UTF-8 for the document); depth first, each subfolder walked as soon as its element is
// opened. A folder that cannot be read adds nothing.
void AddFolderEntries(const std::string& relative, const std::string& diskFolder, TWalk& walk) {
  for (const platform::TSearchRec& entry : platform::FindEntries(diskFolder, "*", platform::faAnyFile)) {
    const bool isFolder = (entry.Attr & platform::faDirectory) != 0;
    if (isFolder && (entry.Name == "." || entry.Name == "..")) continue;
    const std::string name = platform::CodePageToUtf8(entry.Name);
    if (!isFolder) {
      Check(xmlTextWriterStartElement(walk.Writer, Xml("File")));
      WriteAttribute(walk.Writer, "xmlns:Name", relative + "\\" + name);
      WriteAttribute(walk.Writer, "xmlns:LastUpdate", std::to_string(platform::FileDateFromTime(entry.LastWrite)));
      WriteAttribute(walk.Writer, "xmlns:Size", std::to_string(entry.Size));
      Check(xmlTextWriterEndElement(walk.Writer));
      continue;
    }
    Check(xmlTextWriterStartElement(walk.Writer, Xml("Folder")));
    WriteAttribute(walk.Writer, "xmlns:Name", name);
    const bool onPath = std::find(walk.Path.begin(), walk.Path.end(), entry.Id) != walk.Path.end();
    if (entry.Readable() && !onPath) {
      walk.Path.push_back(entry.Id);
      AddFolderEntries(relative + "\\" + name, platform::JoinPath(diskFolder, entry.Name), walk);
      walk.Path.pop_back();
    }
    Check(xmlTextWriterEndElement(walk.Writer));
  }
}

// The serialised text with a CR LF after every line, the last one included.
std::string WithCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 64 + 2);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    result.append(line);
    result += "\r\n";
    start = end + 1;
  }
  return result;
}

}  // namespace

std::string BuildFileIndex(const std::string& folder) {
  InitXmlOnce();
  const TBuffer buffer(xmlBufferCreate());
  if (!buffer) throw EIdException("The XML writer failed.");
  {
    TWriter writer(xmlNewTextWriterMemory(buffer.get(), 0));
    if (!writer) throw EIdException("The XML writer failed.");
    Check(xmlTextWriterStartDocument(writer.get(), "1.0", "Shift-JIS", nullptr));
    Check(xmlTextWriterStartElement(writer.get(), Xml("Project_File_Information")));
    TWalk walk{writer.get(), {}};
    const platform::TFileInfo root = platform::GetFileInfo(folder);
    if (root.Readable()) walk.Path.push_back(root.Id);
    AddFolderEntries("", folder, walk);
    Check(xmlTextWriterEndDocument(writer.get()));
  }  // freeing the writer flushes the last bytes into the buffer
  return WithCrLf(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                                   static_cast<std::size_t>(xmlBufferLength(buffer.get()))));
}
