#include "publish/UnitXML.h"

#include <libxml/parser.h>
#include <libxml/xmlwriter.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "http/net/IdException.h"
#include "platform/FileDate.h"
#include "platform/FilePath.h"
#include "platform/FindEntries.h"
#include "platform/Text.h"

namespace {

struct TWriterFree {
  void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
};
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

void WriteAttribute(xmlTextWriter* writer, const char* name, const char* value) {
  Check(xmlTextWriterWriteAttribute(writer, Xml(name), Xml(value)));
}

void WriteNumber(xmlTextWriter* writer, const char* name, std::int64_t value) {
  char digits[24];
  *std::to_chars(digits, digits + sizeof digits - 1, value).ptr = '\0';
  WriteAttribute(writer, name, digits);
}

// The element in which the walk currently writes entries, the relative name of the folder
// being walked ("" for the indexed folder itself, else "\" and its segments, in UTF-8 for the
// document), and the folders on the way down to it (device and inode), so that a link back up
// the tree is never entered twice. Name grows and shrinks with the walk, one buffer for all.
struct TWalk {
  xmlTextWriter* Writer;
  std::string Name;
  std::vector<platform::TFileId> Path;
};

// Writes the elements for the entries of diskFolder, the folder whose relative name walk.Name
// holds; depth first, each subfolder walked as soon as its element is opened. A folder that
// cannot be read adds nothing.
void AddFolderEntries(const std::string& diskFolder, TWalk& walk) {
  const std::size_t folderLength = walk.Name.size();
  for (const platform::TSearchRec& entry : platform::FindEntries(diskFolder, "*", platform::faAnyFile)) {
    const bool isFolder = (entry.Attr & platform::faDirectory) != 0;
    if (isFolder && (entry.Name == "." || entry.Name == "..")) continue;
    walk.Name += '\\';
    walk.Name += platform::CodePageToUtf8(entry.Name);
    if (!isFolder) {
      Check(xmlTextWriterStartElement(walk.Writer, Xml("File")));
      WriteAttribute(walk.Writer, "xmlns:Name", walk.Name.c_str());
      WriteNumber(walk.Writer, "xmlns:LastUpdate", platform::FileDateFromTime(entry.LastWrite));
      WriteNumber(walk.Writer, "xmlns:Size", entry.Size);
      Check(xmlTextWriterEndElement(walk.Writer));
    } else {
      Check(xmlTextWriterStartElement(walk.Writer, Xml("Folder")));
      WriteAttribute(walk.Writer, "xmlns:Name", walk.Name.c_str() + folderLength + 1);
      const bool onPath = std::find(walk.Path.begin(), walk.Path.end(), entry.Id) != walk.Path.end();
      if (entry.Readable() && !onPath) {
        walk.Path.push_back(entry.Id);
        AddFolderEntries(platform::JoinPath(diskFolder, entry.Name), walk);
        walk.Path.pop_back();
      }
      Check(xmlTextWriterEndElement(walk.Writer));
    }
    walk.Name.resize(folderLength);
  }
}

// Takes the encoded document from libxml2 chunk by chunk straight into the result, every line
// end written as CR LF on the way (the writer's own line ends are its only raw line breaks;
// those inside names go out as character references).
int AppendChunk(void* context, const char* bytes, int length) {
  auto& document = *static_cast<std::string*>(context);
  const std::string_view chunk(bytes, static_cast<std::size_t>(length));
  for (std::size_t start = 0; start < chunk.size();) {
    const std::size_t end = chunk.find('\n', start);
    if (end == std::string_view::npos) {
      document.append(chunk, start);
      break;
    }
    document.append(chunk, start, end - start);
    if (document.empty() || document.back() != '\r') document += '\r';
    document += '\n';
    start = end + 1;
  }
  return length;
}

}  // namespace

std::string BuildFileIndex(const std::string& folder) {
  InitXmlOnce();
  std::string document;
  {
    xmlOutputBuffer* output = xmlOutputBufferCreateIO(AppendChunk, nullptr, &document, nullptr);
    if (output == nullptr) throw EIdException("The XML writer failed.");
    TWriter writer(xmlNewTextWriter(output));  // owns the output buffer from here on
    if (!writer) {
      xmlOutputBufferClose(output);
      throw EIdException("The XML writer failed.");
    }
    Check(xmlTextWriterStartDocument(writer.get(), "1.0", "Shift-JIS", nullptr));
    Check(xmlTextWriterStartElement(writer.get(), Xml("Project_File_Information")));
    TWalk walk{writer.get(), {}, {}};
    const platform::TFileInfo root = platform::GetFileInfo(folder);
    if (root.Readable()) walk.Path.push_back(root.Id);
    AddFolderEntries(folder, walk);
    Check(xmlTextWriterEndDocument(writer.get()));
  }  // freeing the writer flushes the last bytes into the document
  if (!document.empty() && document.back() != '\n') document += "\r\n";
  return document;
}
