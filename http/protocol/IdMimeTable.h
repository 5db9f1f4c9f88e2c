#pragma once
// File-name extensions to the MIME types sent in "Content-Type".

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

/// Pairs of extension (lower-case, with its ".") and MIME type (lower-case), in insertion order,
/// each extension once. Filled from 136 built-in lines, then from the system's MIME database
/// file, whose entries take precedence. After filling the table is only read, so any number of
/// threads may call MimeTypeOf at once; filling and AddType belong to the creating thread.
class TIdMimeTable {
public:
  using TFillEvent = std::function<void(TIdMimeTable&)>;

  /// An empty table, filled at once when fillNow. systemDatabase is a file of lines
  /// "type ext1 ext2 ..." ("#" starts a comment); a missing file adds nothing.
  explicit TIdMimeTable(bool fillNow = true, std::string systemDatabase = "/etc/mime.types");
  virtual ~TIdMimeTable() = default;

  /// Fills the table from FillMimeTypes.
  virtual void FillDefault();
  /// Calls OnFill when assigned; otherwise fills an empty table and leaves a filled one alone.
  virtual void EnsureFilled();

  /// The type of the file name's extension (from the last "." after the last "/", "\" or ":"),
  /// looked up without regard to case; "application/octet-stream" when there is none.
  std::string MimeTypeOf(const std::string& fileName);
  /// Adds one pair. Throws EIdException "Extension is empty", "Mimetype is empty" or
  /// "Extension already exits".
  void AddType(const std::string& ext, const std::string& type);
  /// Replaces the pairs with those of lines "ext<separator>type"; lines without an extension,
  /// or for an extension already taken, are skipped (the first line for an extension counts).
  void LoadMimeTypes(const std::vector<std::string>& lines, const std::string& separator);
  /// Fills an empty list with the built-in lines "ext=type" and then the system database's
  /// entries, each replacing the line of its extension in place or appended; does nothing when
  /// lines is null or already holds lines.
  void FillMimeTypes(std::vector<std::string>* lines) const;

  int Count() const { return static_cast<int>(FExtensions.size()); }
  const std::vector<std::string>& Extensions() const { return FExtensions; }
  const std::vector<std::string>& Types() const { return FTypes; }
  const std::string& SystemDatabase() const { return FSystemDatabase; }

  TFillEvent OnFill;  // when assigned, replaces the default filling

private:
  // The index of ext (compared without regard to case), or -1; a hash look-up, since it runs
  // for every file sent.
  int IndexOfExtension(const std::string& ext) const;

  std::string FSystemDatabase;
  std::vector<std::string> FExtensions;
  std::vector<std::string> FTypes;  // FTypes[i] belongs to FExtensions[i]
  std::unordered_map<std::string, std::size_t> FIndex;  // extension (lower case) to its place
};
