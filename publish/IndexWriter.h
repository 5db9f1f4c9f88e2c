#pragma once
// The writer of the XML index document: "File" and "Folder" elements in a Shift-JIS document.

#include <libxml/xmlwriter.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include "publish/BodySink.h"
#include "publish/TreeWalk.h"

/// Writes one index document to a sink, element by element: "File" elements, and "Folder"
/// elements that hold the elements written between StartFolder and EndFolder; as a tree walk's
/// visitor it writes what the walk reports. Names are bytes of the system code page; bytes that
/// are no character of it, and characters XML cannot carry (controls other than TAB, LF and CR,
/// U+FFFE, U+FFFF), are written as U+FFFD, so every document is well-formed; characters
/// Shift-JIS cannot hold are written as character references. Every line ends in CR LF. A part
/// writer makes a piece of a document instead, elements only, byte for byte as the document
/// writer would have written them in its place (AddPart), so that pieces can be written by
/// several threads. Every operation throws EIdException when the XML writer fails, and what the
/// sink throws. Used by one thread.
class TFileIndexWriter : public ITreeVisitor {
public:
  enum class TKind { Document, Part };

  /// Starts the document in sink: the declaration (version 1.0, encoding Shift-JIS) and the
  /// root element. A part starts empty. The sink must outlive the writer.
  explicit TFileIndexWriter(TBodySink& sink, TKind kind = TKind::Document);
  ~TFileIndexWriter() override;
  TFileIndexWriter(const TFileIndexWriter&) = delete;
  TFileIndexWriter& operator=(const TFileIndexWriter&) = delete;

  /// A "File" element: name is the file's path relative to the indexed folder ("\" before every
  /// segment), lastUpdate its packed local last-write time, size its size in bytes.
  void AddFile(std::string_view name, std::int32_t lastUpdate, std::int64_t size);
  /// Opens a "Folder" element with the folder's own name; what follows goes inside it.
  void StartFolder(std::string_view name);
  void EndFolder() override;
  /// The "File" element of a walked file, and the "Folder" element of a walked folder.
  void AddFile(std::string_view name, const platform::TSearchRec& file) override;
  void StartFolder(std::string_view name, const platform::TSearchRec& folder) override;
  /// A part made by a part writer, in its place among the elements written so far.
  void AddPart(TBodySink& part);
  /// Closes every open element and writes what is left: the document ends with a line end; a
  /// part writer leaves its elements as they are. Nothing may be written afterwards.
  void Finish();

  /// Where the XML writer's output goes: the sink (none while a part's declaration is written),
  /// and the last byte given to it, which decides whether a line end still needs its CR.
  struct TOutput {
    TBodySink* Sink;
    char Last = '\0';
    std::exception_ptr Error;  // what the sink threw
  };

private:
  // Throws what the sink threw, else EIdException when result tells of a failure.
  void Check(int result) const;

  struct TWriterFree {
    void operator()(xmlTextWriter* writer) const;
  };

  const TKind FKind;
  TOutput FOutput;
  std::unique_ptr<xmlTextWriter, TWriterFree> FWriter;
};
