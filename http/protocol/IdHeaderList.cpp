#include "http/protocol/IdHeaderList.h"

#include "http/protocol/IdGlobal.h"
#include "platform/CodePage.h"

namespace {

// A non-empty line that begins with a blank or a TAB continues the line above it.
bool IsContinuationLine(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
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
  const int pos = TextPos(TrimRight(Separator), line);
  if (pos == 0) return "";
  std::string name = line.substr(0, static_cast<std::size_t>(pos - 1));
  return KeepNameCase ? name : UpperCase(name);
}

std::string TIdHeaderList::ValueFromLine(int index) const {
  if (index < 0 || index >= Count()) return "";
  const std::string& line = FLines[static_cast<std::size_t>(index)];
  // A line without a colon has no value of its own (only continuation lines may add one).
  const std::string separator = TrimRight(Separator);
  const int colon = TextPos(separator, line);
  std::string value(colon == 0 ? std::string_view()
                               : TrimView(std::string_view(line).substr(static_cast<std::size_t>(colon - 1) +
                                                                         separator.size())));
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
  for (int i = 0; i < Count(); ++i) {
    if (SameText(NameFromLine(i), name)) return i;
  }
  return -1;
}

void TIdHeaderList::CollectValues(const std::string& name, std::vector<std::string>* list) const {
  if (list == nullptr) return;
  for (int i = 0; i < Count(); ++i) {
    if (SameText(NameFromLine(i), name)) list->push_back(ValueFromLine(i));
  }
}

void TIdHeaderList::PutValue(const std::string& name, const std::string& value) {
  int index = LineIndexOf(name);
  if (!value.empty()) {
    if (index == -1) {
      FLines.emplace_back();
      index = Count() - 1;
    }
    if (FoldOnPut) {
      DropContinuationLines(index);
      PutFolded(name + Separator + value, index);
    } else {
      FLines[static_cast<std::size_t>(index)] = name + Separator + value;
    }
  } else if (index != -1) {
    if (FoldOnPut) DropContinuationLines(index);
    Delete(index);
  }
}

std::vector<std::string> TIdHeaderList::FoldText(const std::string& text) const {
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
