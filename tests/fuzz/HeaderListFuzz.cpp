// The header list of a received head: names, values with their continuation lines, look-ups
// by name, and replacing a line with folding.
// Input: the fold width, then a name and a value to put, then the head lines (split at LF,
// a CR before the LF dropped, as the request reader hands them over).

#include "FuzzCheck.h"
#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdHeaderList.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitLines(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t end = head.find('\n', start);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// What a value carries once blanks and control characters no longer count: folding and
// joining may move or add those, never anything else.
std::string Visible(const std::string& text) {
  std::string visible;
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 0x20) visible += c;
  }
  return visible;
}

// A name PutValue can write and NameFromLine reads back: letters, digits and "-" only.
bool IsPlainName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

int CountNamed(const TIdHeaderList& list, const std::string& name) {
  int count = 0;
  for (int i = 0; i < list.Count(); ++i) count += SameText(list.NameFromLine(i), name) ? 1 : 0;
  return count;
}

void CheckValues(const TIdHeaderList& list, platform::TCodePage codePage) {
  for (int i = 0; i < list.Count(); ++i) {
    const std::string value = list.ValueFromLine(i);
    FUZZ_CHECK(fuzz::IsTrimmed(value));
    // Joining adds one blank per continuation line and nothing else.
    std::size_t joined = list[i].size();
    for (int j = i + 1; j < list.Count() && !list[j].empty() && (list[j][0] == ' ' || list[j][0] == '\t'); ++j)
      joined += list[j].size() + 1;
    FUZZ_CHECK(value.size() <= joined);
    const std::string name = list.NameFromLine(i);
    FUZZ_CHECK(name == UpperCase(name));
    if (codePage == platform::TCodePage::Utf8) FUZZ_CHECK(name.find(':') == std::string::npos);
  }
}

// Look-ups by the names of the first few lines: the first line of a name answers, every line
// of it is collected.
void CheckLookups(const TIdHeaderList& list) {
  for (int i = 0; i < std::min(list.Count(), 8); ++i) {
    const std::string name = list.NameFromLine(i);
    const int index = list.LineIndexOf(name);
    FUZZ_CHECK(index >= 0 && index <= i && SameText(list.NameFromLine(index), name));
    std::vector<std::string> values;
    list.CollectValues(name, &values);
    FUZZ_CHECK(static_cast<int>(values.size()) == CountNamed(list, name));
    FUZZ_CHECK(!values.empty() && values.front() == list.ValueOf(name));
  }
}

void CheckTextRoundTrip(const TIdHeaderList& list) {
  for (const std::string& line : list.Lines()) {
    if (line.find_first_of("\r\n") != std::string::npos) return;
  }
  TIdHeaderList copy;
  copy.SetText(list.Text());
  FUZZ_CHECK(copy.Lines() == list.Lines());
}

// A value the engine writes: text on one line, TAB the only control character. (Folding trims
// every piece, so a piece that ends in other control characters would come out empty.)
bool IsPlainValue(const std::string& value) {
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

void CheckPut(TIdHeaderList list, const std::string& name, const std::string& value) {
  if (!IsPlainName(name) || !IsPlainValue(value)) return;
  const std::vector<std::string> before = list.Lines();
  const int oldIndex = list.LineIndexOf(name);
  const int oldCount = CountNamed(list, name);
  list.PutValue(name, value);

  // Lines above the one put stay as they were; the number of lines of the name changes only
  // by the line added or deleted.
  const int index = value.empty() ? -1 : list.LineIndexOf(name);
  const int stable = oldIndex == -1 ? static_cast<int>(before.size()) : oldIndex;
  FUZZ_CHECK(list.Count() >= stable && std::equal(before.begin(), before.begin() + stable, list.Lines().begin()));
  if (value.empty()) {
    FUZZ_CHECK(CountNamed(list, name) == std::max(oldCount - 1, 0));
    return;
  }
  FUZZ_CHECK(index == stable);
  FUZZ_CHECK(CountNamed(list, name) == (oldIndex == -1 ? oldCount + 1 : oldCount));
  FUZZ_CHECK(Visible(list.ValueOf(name)) == Visible(value));

  // The folded pieces go out as one line and its continuation lines.
  const std::vector<std::string> pieces = list.FoldText(name + list.Separator + value);
  for (std::size_t i = 1; i < pieces.size(); ++i) FUZZ_CHECK(!pieces[i].empty() && pieces[i][0] == ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int foldWidth = input.ConsumeIntegralInRange(1, 120);
  const std::string name = input.ConsumeRandomLengthString(32);
  const std::string value = input.ConsumeRandomLengthString(512);
  const std::vector<std::string> lines = SplitLines(input.ConsumeRemainingBytesAsString());

  fuzz::ForEachCodePage([&](platform::TCodePage codePage) {
    TIdHeaderList list;
    list.FoldWidth = foldWidth;
    for (const std::string& line : lines) list.Add(line);
    CheckValues(list, codePage);
    CheckLookups(list);
    CheckTextRoundTrip(list);
    CheckPut(list, name, value);
  });
  return 0;
}
