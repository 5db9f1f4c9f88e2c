// The index writer: whatever names, times and sizes it is given, under either code page, the
// document is well-formed, ends every line in CR LF, and read back by libxml2 holds exactly the
// entries written, each name with U+FFFD for what XML cannot carry.
// Input: a run of entries (a file, a folder opened, a folder closed) with their names and values.

#include "FuzzCheck.h"
#include "platform/Text.h"
#include "publish/IndexWriter.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kMaxEntries = 256;
constexpr int kMaxDepth = 64;  // well below the depth at which libxml2's parser stops by default

// One element as written: a file with its three values, or a folder with what it holds.
struct TEntry {
  bool IsFolder = false;
  std::string Name;  // as a reader of the document finds it, in UTF-8
  std::string LastUpdate, Size;
  std::vector<TEntry> Entries;
};

bool IsXmlCharacter(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// One character as a reader of the document finds it: written in the declared encoding and read
// back with it, or kept when Shift-JIS cannot hold it (the writer then gives a character
// reference). libxml2's Shift-JIS writes both "\" and "¥" as 0x5C and both "¢" and "￠" as
// 0x8191, and reads them back as "¥" and "¢"; Windows and browsers read 0x5C as "\" and 0x8191
// as "￠", so the index means the names as the system holds them.
class TShiftJisReading {
public:
  TShiftJisReading() : FEncode(iconv_open("SHIFT-JIS", "UTF-8")), FDecode(iconv_open("UTF-8", "SHIFT-JIS")) {
    FUZZ_CHECK(FEncode != kNoConverter && FDecode != kNoConverter);
  }
  ~TShiftJisReading() {
    iconv_close(FEncode);
    iconv_close(FDecode);
  }
  TShiftJisReading(const TShiftJisReading&) = delete;
  TShiftJisReading& operator=(const TShiftJisReading&) = delete;

  std::string Read(const std::string& character) {
    std::string encoded;
    if (!Convert(FEncode, character, encoded)) return character;
    std::string read;
    FUZZ_CHECK(Convert(FDecode, encoded, read));
    return read;
  }

private:
  static bool Convert(iconv_t converter, const std::string& from, std::string& to) {
    char buffer[16];
    char* in = const_cast<char*>(from.data());
    std::size_t inLeft = from.size();
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    to.assign(buffer, out);
    return true;
  }

  static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
  iconv_t FEncode, FDecode;
};

// The name as a reader of the document finds it: the name in UTF-8 (the conversion every page of
// the system uses), each character that XML cannot carry replaced by U+FFFD.
std::string ExpectedName(std::string_view name) {
  static TShiftJisReading reading;
  const std::string utf8 = platform::CodePageToUtf8(name);
  std::string expected;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const auto first = static_cast<unsigned char>(utf8[pos]);
    const std::size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? first : first & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = c << 6 | (static_cast<unsigned char>(utf8[pos + i]) & 0x3F);
    expected += reading.Read(IsXmlCharacter(c) ? utf8.substr(pos, length) : "\uFFFD");
    pos += length;
  }
  return expected;
}

// Drives the writer with the entries the input describes and returns them as written; folders
// still open are closed by Finish.
std::vector<TEntry> WriteEntries(FuzzedDataProvider& input, TFileIndexWriter& writer) {
  std::vector<TEntry> root;
  std::vector<std::vector<TEntry>*> open{&root};
  for (int i = 0; i < kMaxEntries && input.remaining_bytes() > 0; ++i) {
    const int kind = input.ConsumeIntegralInRange(0, 2);
    if (kind == 2) {
      if (open.size() > 1) {
        writer.EndFolder();
        open.pop_back();
      }
      continue;
    }
    TEntry entry;
    entry.IsFolder = kind == 1;
    // The walk gives a file its relative path ("\" first) and a folder its own name, never empty.
    const std::string name = (entry.IsFolder ? "" : "\\") + input.ConsumeRandomLengthString(48);
    if (name.empty() || (entry.IsFolder && open.size() > kMaxDepth)) continue;
    entry.Name = ExpectedName(name);
    if (entry.IsFolder) {
      writer.StartFolder(name);
      open.back()->push_back(std::move(entry));
      open.push_back(&open.back()->back().Entries);
    } else {
      const auto lastUpdate = input.ConsumeIntegral<std::int32_t>();
      const auto size = input.ConsumeIntegral<std::int64_t>();
      writer.AddFile(name, lastUpdate, size);
      entry.LastUpdate = std::to_string(lastUpdate);
      entry.Size = std::to_string(size);
      open.back()->push_back(std::move(entry));
    }
  }
  return root;
}

struct TParserFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct TDocFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

std::string Text(const xmlChar* text) { return text == nullptr ? "" : reinterpret_cast<const char*>(text); }

// The values an element carries as its namespace declarations, in document order.
std::vector<std::pair<std::string, std::string>> Values(const xmlNode* element) {
  std::vector<std::pair<std::string, std::string>> values;
  for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) values.emplace_back(Text(ns->prefix), Text(ns->href));
  return values;
}

void CheckElements(const xmlNode* parent, const std::vector<TEntry>& entries) {
  std::size_t index = 0;
  for (const xmlNode* node = parent->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    FUZZ_CHECK(index < entries.size());
    const TEntry& entry = entries[index++];
    FUZZ_CHECK(Text(node->name) == (entry.IsFolder ? "Folder" : "File"));
    FUZZ_CHECK(node->properties == nullptr);
    using TValues = std::vector<std::pair<std::string, std::string>>;
    const TValues expected = entry.IsFolder
                                 ? TValues{{"Name", entry.Name}}
                                 : TValues{{"Name", entry.Name}, {"LastUpdate", entry.LastUpdate}, {"Size", entry.Size}};
    FUZZ_CHECK(Values(node) == expected);
    CheckElements(node, entry.Entries);
  }
  FUZZ_CHECK(index == entries.size());
}

void CheckDocument(const std::string& document, const std::vector<TEntry>& entries) {
  static const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"Shift-JIS\"?>\r\n";
  FUZZ_CHECK(document.starts_with(kDeclaration) && document.ends_with("\r\n"));
  for (std::size_t i = 0; i < document.size(); ++i) {
    if (document[i] == '\n') FUZZ_CHECK(i > 0 && document[i - 1] == '\r');
    if (document[i] == '\r') FUZZ_CHECK(i + 1 < document.size() && document[i + 1] == '\n');
  }

  const std::unique_ptr<xmlParserCtxt, TParserFree> context(xmlNewParserCtxt());
  FUZZ_CHECK(context != nullptr);
  // Quietly: libxml2 reports every name that is no URI reference ("\a b.txt") as a namespace
  // error, since the values stand in namespace declarations; that never makes a document
  // ill-formed, and xmllint passes it.
  const std::unique_ptr<xmlDoc, TDocFree> parsed(
      xmlCtxtReadMemory(context.get(), document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  FUZZ_CHECK(parsed != nullptr && context->wellFormed);
  const xmlNode* root = xmlDocGetRootElement(parsed.get());
  FUZZ_CHECK(root != nullptr && Text(root->name) == "Project_File_Information" && root->nsDef == nullptr);
  CheckElements(root, entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ForEachCodePage([&](platform::TCodePage) {
    FuzzedDataProvider input(data, size);
    static TTempSpace space(std::int64_t{1} << 30);
    TBodySink sink(space);
    TFileIndexWriter writer(sink);
    const std::vector<TEntry> entries = WriteEntries(input, writer);
    writer.Finish();
    CheckDocument(sink.Contents(), entries);
  });
  return 0;
}
