#include "http/protocol/IdHeaderList.h"

#include "http/protocol/IdGlobal.h"
#include "platform/CodePage.h"

namespace {

// A non-empty line that begins with a blank or a TAB continues the line above it.
bool IsContinuationLine(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// What ends a name: the separator without its trailing blanks (":" for ": ").
std::string_view NameEnd(const std::string& separator) {
  std::string_view end = separator;
  while (!end.empty() && static_cast<unsigned char>(end.back()) <= 0x20) end.remove_suffix(1);
  return end;
}

// The offset of the first name end in line, never on a trail byte; npos when there is none (an
// empty name end is never found).
std::size_t NameEndIn(std::string_view line, std::string_view nameEnd) {
  return nameEnd.empty() ? std::string_view::npos : platform::FindText(line, nameEnd);
}

// Whether line's name (its text before the first name end) is name, compared without regard to
// case; a line without a name end has the empty name. Looks at the name's length of the line
// first, so that most lines are passed over without a search and without a copy.
bool HasName(std::string_view line, std::string_view nameEnd, std::string_view name) {
  if (line.size() < name.size() || !SameText(line.substr(0, name.size()), name)) return false;
  const std::size_t found = NameEndIn(line, nameEnd);
  return found == std::string_view::npos ? name.empty() : found == name.size();
}

}  // namespace

void TIdHeaderList::Insert(int index, std::string line) {
  FLines.insert(FLines.begin() + index, std::move(line));
}

void TIdHeaderList::Delete(int index) { FLines.erase(FLines.begin() + index); }

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const std::string& line : FLines) text += line + "\r\n";
  return text;
}

void TIdHeaderList::SetText(const std::string& text) {
  FLines.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      FLines.push_back(text.substr(start));
      break;
    }
    FLines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

std::string TIdHeaderList::NameFromLine(int index) const {
  if (index < 0 || index >= Count()) return "";
  const std::string& line = FLines[static_cast<std::size_t>(index)];
  const std::size_t end = NameEndIn(line, NameEnd(Separator));
  if (end == std::string_view::npos) return "";
  std::string name = line.substr(0, end);
  return KeepNameCase ? name : UpperCase(name);
}

std::string TIdHeaderList::ValueFromLine(int index) const {
  if (index < 0 || index >= Count()) return "";
  const std::string& line = FLines[static_cast<std::size_t>(index)];
  // A line without a colon has no value of its own (only continuation lines may add one).
  const std::string_view nameEnd = NameEnd(Separator);
  const std::size_t colon = NameEndIn(line, nameEnd);
  std::string value(colon == std::string_view::npos
                        ? std::string_view()
                        : TrimView(std::string_view(line).substr(colon + nameEnd.size())));
  if (JoinContinuations) {
    // Each piece is appended in place, so that many continuation lines cost time in proportion
    // to their length, not to its square.
    for (int i = index + 1; i < Count() && IsContinuationLine(FLines[static_cast<std::size_t>(i)]); ++i) {
      const std::string_view kept = TrimView(value);
      const auto front = static_cast<std::size_t>(kept.data() - value.data());
      value.resize(front + kept.size());
      value.erase(0, front);
      value += ' ';
      value += TrimView(FLines[static_cast<std::size_t>(i)]);
    }
  }
  return Trim(value);
}

int TIdHeaderList::LineIndexOf(const std::string& name) const {
  const std::string_view nameEnd = NameEnd(Separator);
  for (int i = 0; i < Count(); ++i) {
    if (HasName(FLines[static_cast<std::size_t>(i)], nameEnd, name)) return i;
  }
  return -1;
}

void TIdHeaderList::CollectValues(const std::string& name, std::vector<std::string>* list) const {
  if (list == nullptr) return;
  const std::string_view nameEnd = NameEnd(Separator);
  for (int i = 0; i < Count(); ++i) {
    if (HasName(FLines[static_cast<std::size_t>(i)], nameEnd, name)) list->push_back(ValueFromLine(i));
  }
}

void TIdHeaderList::PutValue(const std::string& name, const std::string& value) {
  int index = LineIndexOf(name);
  if (!value.empty()) {
    if (index == -1) {
      FLines.emplace_back();
      index = Count() - 1;
    }
    std::string line;
    line.reserve(name.size() + Separator.size() + value.size());
    line += name;
    line += Separator;
    line += value;
    if (FoldOnPut) {
      DropContinuationLines(index);
      PutFolded(line, index);
    } else {
      FLines[static_cast<std::size_t>(index)] = std::move(line);
    }
  } else if (index != -1) {
    if (FoldOnPut) DropContinuationLines(index);
    Delete(index);
  }
}

std::vector<std::string> TIdHeaderList::FoldText(const std::string& text) const {
  // A line that fits (a double-byte character at its end included) and holds no break of its
  // own is never broken: it is spared the walk.
  if (FoldWidth > 0 && text.size() + 1 < static_cast<std::size_t>(FoldWidth) && text.find('\r') == std::string::npos)
    return {TrimRight(text)};
  std::string rest = WrapForFolding(text, "\r\n ", "\t ,", FoldWidth);
  std::vector<std::string> pieces;
  do {
    pieces.push_back(TrimRight(TakeToken(rest, "\r\n")));
  } while (!rest.empty());
  return pieces;
}

void TIdHeaderList::PutFolded(const std::string& text, int index) {
  std::vector<std::string> pieces = FoldText(text);
  FLines[static_cast<std::size_t>(index)] = std::move(pieces.back());
  pieces.pop_back();
  FLines.insert(FLines.begin() + index, pieces.begin(), pieces.end());
}

void TIdHeaderList::DropContinuationLines(int index) {
  while (index + 1 < Count() && IsContinuationLine(FLines[static_cast<std::size_t>(index + 1)]))
    Delete(index + 1);
}

std::string WrapForFolding(const std::string& line, const std::string& breakText,
                           const std::string& breakChars, int maxCol) {
  // Positions are 1-based as in the walk's description: pos is the next character to look at,
  // lineStart the first character not yet copied, breakPos the last place a break may go.
  const int length = static_cast<int>(line.size());
  const int breakLength = static_cast<int>(breakText.size());
  auto at = [&](int pos) { return line[static_cast<std::size_t>(pos - 1)]; };
  auto isBreakChar = [&](char c) { return breakChars.find(c) != std::string::npos; };
  int col = 1, pos = 1, lineStart = 1, breakPos = 0;
  char quote = ' ';
  bool existingBreak = false;
  std::string result;
  while (pos <= length) {
    const char current = at(pos);
    if (platform::IsLeadByte(static_cast<unsigned char>(current))) {
      ++pos;
      ++col;
    } else if (!breakText.empty() && current == breakText[0]) {
      if (quote == ' ') {
        existingBreak = SameText(std::string_view(line).substr(static_cast<std::size_t>(pos - 1),
                                                               static_cast<std::size_t>(breakLength)),
                                 breakText);
        if (existingBreak) {
          pos += breakLength - 1;
          breakPos = pos;
        }
      }
    } else if (isBreakChar(current)) {
      if (quote == ' ') breakPos = pos;
    } else if (current == '"') {
      if (quote == '"') {
        quote = ' ';
      } else if (quote == ' ') {
        quote = '"';
      }
    }
    ++pos;
    ++col;
    if (quote != '"' && (existingBreak || (col > maxCol && breakPos > lineStart))) {
      col = pos - breakPos;
      result += line.substr(static_cast<std::size_t>(lineStart - 1), static_cast<std::size_t>(breakPos - lineStart + 1));
      if (current != '"') {
        while (pos <= length && (isBreakChar(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) ++pos;
      }
      if (!existingBreak && pos < length) result += breakText;
      lineStart = breakPos + 1;
      existingBreak = false;
    }
  }
  if (lineStart <= length) result += line.substr(static_cast<std::size_t>(lineStart - 1));
  return result;
}
