#pragma once
// The XML index of a folder tree: every file and subfolder below a folder that a request could
// be answered with, at every depth, with each file's relative path, packed last-write time and
// size, in a Shift-JIS document.

#include <libxml/xmlwriter.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

/// Writes one index document element by element: "File" elements, and "Folder" elements that
/// hold the elements written between StartFolder and EndFolder. Names are bytes of the system
/// code page; bytes that are no character of it, and characters XML cannot carry (controls other
/// than TAB, LF and CR, U+FFFE, U+FFFF), are written as U+FFFD, so every document is well-formed;
/// characters Shift-JIS cannot hold are written as character references. A part writer makes a
/// piece of a document instead, elements only, byte for byte as the document writer would have
/// written them in its place (AddPart), so that pieces can be written by several threads.
/// Every operation throws EIdException when the XML writer fails. Used by one thread.
class TFileIndexWriter {
public:
  enum class TKind { Document, Part };

  /// Starts the document: the declaration (version 1.0, encoding Shift-JIS) and the root
  /// element. A part starts empty.
  explicit TFileIndexWriter(TKind kind = TKind::Document);
  ~TFileIndexWriter();
  TFileIndexWriter(const TFileIndexWriter&) = delete;
  TFileIndexWriter& operator=(const TFileIndexWriter&) = delete;

  /// A "File" element: name is the file's path relative to the indexed folder ("\" before every
  /// segment), lastUpdate its packed local last-write time, size its size in bytes.
  void AddFile(std::string_view name, std::int32_t lastUpdate, std::int64_t size);
  /// Opens a "Folder" element with the folder's own name; what follows goes inside it.
  void StartFolder(std::string_view name);
  void EndFolder();
  /// A part made by a part writer, in its place among the elements written so far.
  void AddPart(std::string_view part);
  /// Closes every open element and returns the whole document, every line ending in CR LF; a
  /// part writer returns its elements, which it leaves as they are. Nothing may be written
  /// afterwards.
  std::string Finish();

private:
  struct TWriterFree {
    void operator()(xmlTextWriter* writer) const;
  };

  const TKind FKind;
  std::string FDocument;  // filled by the writer's output callback
  std::unique_ptr<xmlTextWriter, TWriterFree> FWriter;
};

/// The index document of folder (a full path; a trailing "/" is optional): every file and
/// folder below it that is not withheld by withheldMask (attribute bits, as the request handler
/// builds them), with nothing below a withheld folder. Only regular files are listed, since no
/// other kind is ever sent. A missing or unreadable folder gives an empty root element. The
/// folder's subfolders are walked by the calling thread and up to helpers threads of its own
/// at once (TIndexParts); the document is the same with any number. Reads nothing shared but
/// the system code page; any thread, several at once.
std::string BuildFileIndex(const std::string& folder, std::uint32_t withheldMask, std::size_t helpers = 1);
