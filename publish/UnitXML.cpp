#include "publish/UnitXML.h"

#include <libxml/parser.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <mutex>
#include <vector>

#include "http/net/IdException.h"
#include "platform/FileDate.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "publish/IndexParts.h"
#include "publish/IndexWalk.h"

namespace {

const char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

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

// Whether the UTF-8 character at text[i] is one XML 1.0 cannot carry: a control other than TAB,
// LF and CR, or U+FFFE or U+FFFF (the converted names hold no surrogates); its length in length.
bool IsNoXmlCharacter(std::string_view text, std::size_t i, std::size_t& length) {
  const auto byte = static_cast<unsigned char>(text[i]);
  length = 1;
  if (byte < 0x20) return byte != '\t' && byte != '\n' && byte != '\r';
  if (byte != 0xEF || i + 2 >= text.size()) return false;
  length = 3;
  return static_cast<unsigned char>(text[i + 1]) == 0xBF && (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE;
}

// A name of the system code page as the document's UTF-8, with U+FFFD for what XML cannot carry.
std::string XmlName(std::string_view name) {
  std::string utf8 = platform::CodePageToUtf8(name);
  std::size_t length = 0;
  std::size_t i = 0;
  while (i < utf8.size() && !IsNoXmlCharacter(utf8, i, length)) ++i;
  if (i == utf8.size()) return utf8;  // the usual case: nothing to replace
  std::string result(utf8, 0, i);
  for (; i < utf8.size(); i += length) {
    if (IsNoXmlCharacter(utf8, i, length)) {
      result += kReplacementUtf8;
    } else {
      result.append(utf8, i, length);
    }
  }
  return result;
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

void TFileIndexWriter::TWriterFree::operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }

TFileIndexWriter::TFileIndexWriter(TKind kind) : FKind(kind) {
  InitXmlOnce();
  xmlOutputBuffer* output = xmlOutputBufferCreateIO(AppendChunk, nullptr, &FDocument, nullptr);
  if (output == nullptr) throw EIdException("The XML writer failed.");
  FWriter.reset(xmlNewTextWriter(output));  // owns the output buffer from here on
  if (!FWriter) {
    xmlOutputBufferClose(output);
    throw EIdException("The XML writer failed.");
  }
  Check(xmlTextWriterStartDocument(FWriter.get(), "1.0", "Shift-JIS", nullptr));
  if (FKind == TKind::Part) {
    // A part needs the document's encoding, which only the start of a document sets; the
    // declaration itself belongs to the document.
    Check(xmlTextWriterFlush(FWriter.get()));
    FDocument.clear();
    return;
  }
  Check(xmlTextWriterStartElement(FWriter.get(), Xml("Project_File_Information")));
}

TFileIndexWriter::~TFileIndexWriter() = default;

void TFileIndexWriter::AddFile(std::string_view name, std::int32_t lastUpdate, std::int64_t size) {
  char digits[2][24];
  *std::to_chars(digits[0], digits[0] + sizeof digits[0] - 1, lastUpdate).ptr = '\0';
  *std::to_chars(digits[1], digits[1] + sizeof digits[1] - 1, size).ptr = '\0';
  Check(xmlTextWriterStartElement(FWriter.get(), Xml("File")));
  Check(xmlTextWriterWriteAttribute(FWriter.get(), Xml("xmlns:Name"), Xml(XmlName(name).c_str())));
  Check(xmlTextWriterWriteAttribute(FWriter.get(), Xml("xmlns:LastUpdate"), Xml(digits[0])));
  Check(xmlTextWriterWriteAttribute(FWriter.get(), Xml("xmlns:Size"), Xml(digits[1])));
  Check(xmlTextWriterEndElement(FWriter.get()));
}

void TFileIndexWriter::StartFolder(std::string_view name) {
  Check(xmlTextWriterStartElement(FWriter.get(), Xml("Folder")));
  Check(xmlTextWriterWriteAttribute(FWriter.get(), Xml("xmlns:Name"), Xml(XmlName(name).c_str())));
}

void TFileIndexWriter::EndFolder() { Check(xmlTextWriterEndElement(FWriter.get())); }

void TFileIndexWriter::AddPart(std::string_view part) {
  // The start tag that the part's elements go into is closed, and what the writer holds goes
  // out before them, so that the part lands in its place.
  Check(xmlTextWriterWriteRaw(FWriter.get(), Xml("")));
  Check(xmlTextWriterFlush(FWriter.get()));
  FDocument += part;
}

std::string TFileIndexWriter::Finish() {
  if (FKind == TKind::Part) {
    Check(xmlTextWriterFlush(FWriter.get()));
    FWriter.reset();
    return std::move(FDocument);
  }
  Check(xmlTextWriterEndDocument(FWriter.get()));
  FWriter.reset();  // freeing the writer flushes the last bytes into the document
  if (!FDocument.empty() && FDocument.back() != '\n') FDocument += "\r\n";
  return std::move(FDocument);
}

std::string BuildFileIndex(const std::string& folder, std::uint32_t withheldMask, std::size_t helpers) {
  TFileIndexWriter writer;
  const TIndexWalk walk(withheldMask);
  TIndexWalk::TPath path;
  const platform::TFileInfo root = platform::GetFileInfo(folder);
  if (root.Readable()) path.push_back(root.Id);
  const std::vector<platform::TSearchRec> entries = walk.Entries(folder);
  std::vector<platform::TSearchRec> folders;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(folders),
               [](const platform::TSearchRec& entry) { return (entry.Attr & platform::faDirectory) != 0; });
  TIndexParts parts(withheldMask, folder, std::move(folders), std::move(path), helpers);
  std::size_t nextPart = 0;
  for (const platform::TSearchRec& entry : entries) {
    if ((entry.Attr & platform::faDirectory) != 0) {
      writer.AddPart(parts.Take(nextPart++));
    } else {
      writer.AddFile("\\" + entry.Name, platform::FileDateFromTime(entry.LastWrite), entry.Size);
    }
  }
  return writer.Finish();
}
