#include "platform/text.h"

namespace kap {

std::string TrimSpaces(const std::string& text, const char* blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string TrimRight(const std::string& text) {
  const size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string PadOrCut(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}

}  // namespace kap
