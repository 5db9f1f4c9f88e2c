#pragma once
// The header lines of one HTTP message, kept in their order and parsed only when looked up.

#include <string>
#include <vector>

/// An ordered list of header lines (duplicates allowed) answering questions by header name:
/// values with continuation lines joined, every value of a name, and replacing, adding or
/// deleting a named line with optional folding of long lines. Names are always compared
/// without regard to case. Belongs to one record and one thread.
class TIdHeaderList {
public:
  std::string Separator = ": ";  // written by PutValue; without its trailing blanks it ends a name
  bool KeepNameCase = false;       // false: NameFromLine upper-cases
  bool JoinContinuations = true;   // ValueFromLine joins the continuation lines below a line
  bool FoldOnPut = true;           // PutValue folds long lines and drops old continuation lines
  int FoldWidth = 78;              // column limit for folding

  // The plain list of lines

  int Count() const { return static_cast<int>(FLines.size()); }
  const std::string& operator[](int index) const { return FLines.at(static_cast<std::size_t>(index)); }
  const std::vector<std::string>& Lines() const { return FLines; }
  void Add(std::string line) { FLines.push_back(std::move(line)); }
  /// Inserts before index; index Count() appends.
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { FLines.clear(); }
  /// Every line followed by CR LF.
  std::string Text() const;
  /// Replaces the lines by those of text, split at CR LF, a bare LF or a bare CR; a line end at
  /// the very end adds no empty line.
  void SetText(const std::string& text);

  // Look-up by name

  /// The line's text before the first ":", upper-cased unless KeepNameCase, not trimmed;
  /// empty when the line has no ":" or index is outside the list.
  std::string NameFromLine(int index) const;
  /// The line's text after its first ":" (none without one), joined with the continuation lines below when
  /// JoinContinuations, blanks and control characters trimmed; empty outside the list.
  std::string ValueFromLine(int index) const;
  /// The index of the first line with that name, or -1.
  int LineIndexOf(const std::string& name) const;
  /// The value of the first line with that name; empty when there is none.
  std::string ValueOf(const std::string& name) const { return ValueFromLine(LineIndexOf(name)); }
  /// Appends the value of every line with that name, in list order; nothing when list is null.
  void CollectValues(const std::string& name, std::vector<std::string>* list) const;

  // Changes by name

  /// Replaces the first line of that name in place (appends one when there is none); an empty
  /// value deletes that first line instead. Later lines of the same name stay.
  void PutValue(const std::string& name, const std::string& value);
  /// The pieces of one header line folded at FoldWidth; pieces after the first begin with a blank.
  std::vector<std::string> FoldText(const std::string& text) const;
  /// Puts the folded pieces of text in place of line index, the first piece at index.
  void PutFolded(const std::string& text, int index);
  /// Removes the continuation lines directly below line index.
  void DropContinuationLines(int index);

private:
  std::vector<std::string> FLines;
};

/// Breaks line after a break character (or at an existing breakText) wherever the column would
/// pass maxCol, inserting breakText; never inside double quotes and never inside a double-byte
/// character. A line without a break character stays whole.
std::string WrapForFolding(const std::string& line, const std::string& breakText,
                           const std::string& breakChars, int maxCol);
