#include "app/OperatorText.h"

#include <cstdio>

#include "platform/Text.h"

std::string Bilingual(std::string_view japanese, std::string_view english) {
  std::string text(japanese);
  text += " / ";
  text += english;
  return text;
}

void PrintError(const std::string& line) {
  std::fprintf(stderr, "%s\n", platform::Utf8ToCodePage(line).c_str());
}
