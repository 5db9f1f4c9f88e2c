#include "publish/IndexWriter.h"

#include <libxml/parser.h>

#include <charconv>
#include <exception>
#include <mutex>
#include <string>

#include "http/net/IdException.h"
#include "platform/FileDate.h"
#include "platform/Text.h"

namespace {

const char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

const xmlChar* Xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

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

// Writes a chunk of the encoded document to the sink, every line end as CR LF (the writer's own
// line ends are its only raw line breaks; those inside names go out as character references).
void AppendWithCrLf(TFileIndexWriter::TOutput& output, std::string_view chunk) {
  for (std::size_t start = 0; start < chunk.size();) {
    const std::size_t end = chunk.find('\n', start);
    const std::string_view piece = chunk.substr(start, end == std::string_view::npos ? end : end - start);
    output.Sink->Append(piece);
    if (!piece.empty()) output.Last = piece.back();
    if (end == std::string_view::npos) break;
    output.Sink->Append(output.Last == '\r' ? "\n" : "\r\n");
    output.Last = '\n';
    start = end + 1;
  }
}

// Takes the encoded document from libxml2 chunk by chunk straight into the sink. What the sink
// throws is kept for the writer to throw: it must not unwind through libxml2.
int AppendChunk(void* context, const char* bytes, int length) noexcept {
  auto& output = *static_cast<TFileIndexWriter::TOutput*>(context);
  if (output.Sink == nullptr || length <= 0) return length;
  try {
    AppendWithCrLf(output, std::string_view(bytes, static_cast<std::size_t>(length)));
  } catch (...) {
    output.Error = std::current_exception();
    return -1;
  }
  return length;
}

}  // namespace

void TFileIndexWriter::TWriterFree::operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }

void TFileIndexWriter::Check(int result) const {
  if (FOutput.Error) std::rethrow_exception(FOutput.Error);
  if (result < 0) throw EIdException("The XML writer failed.");
}

TFileIndexWriter::TFileIndexWriter(TBodySink& sink, TKind kind) : FKind(kind), FOutput{&sink, '\0', nullptr} {
  InitXmlOnce();
  // The declaration of a part is the document's: it goes nowhere.
  if (FKind == TKind::Part) FOutput.Sink = nullptr;
  xmlOutputBuffer* output = xmlOutputBufferCreateIO(AppendChunk, nullptr, &FOutput, nullptr);
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
    FOutput.Sink = &sink;
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

void TFileIndexWriter::AddFile(std::string_view name, const platform::TSearchRec& file) {
  AddFile(name, platform::FileDateFromTime(file.LastWrite), file.Size);
}

void TFileIndexWriter::StartFolder(std::string_view, const platform::TSearchRec& folder) { StartFolder(folder.Name); }

void TFileIndexWriter::AddPart(TBodySink& part) {
  // The start tag that the part's elements go into is closed, and what the writer holds goes
  // out before them, so that the part lands in its place.
  Check(xmlTextWriterWriteRaw(FWriter.get(), Xml("")));
  Check(xmlTextWriterFlush(FWriter.get()));
  if (part.Size() == 0) return;
  FOutput.Sink->Append(part);
  FOutput.Last = '>';  // a part ends with an element's end
}

void TFileIndexWriter::Finish() {
  if (FKind == TKind::Part) {
    Check(xmlTextWriterFlush(FWriter.get()));
    FWriter.reset();
    return;
  }
  Check(xmlTextWriterEndDocument(FWriter.get()));
  Check(xmlTextWriterFlush(FWriter.get()));
  FWriter.reset();
  if (FOutput.Last != '\n') FOutput.Sink->Append("\r\n");
}

