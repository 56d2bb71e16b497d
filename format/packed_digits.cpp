#include "format/format.h"

namespace kap {

std::string PackDigits(const std::string& text) {
  const size_t n = text.size();
  // Right-align the trimmed digits in the original width; inner spaces count as zeros.
  size_t first = text.find_first_not_of(' ');
  size_t last = text.find_last_not_of(' ');
  std::string digits = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  digits.insert(0, n - digits.size(), '0');
  for (char& c : digits) {
    if (c == ' ') c = '0';
  }
  auto digitAt = [&](size_t i) -> int {
    if (i >= digits.size()) return 0;
    char c = digits[i];
    return c >= '0' && c <= '9' ? c - '0' : 0;
  };
  std::string packed;
  packed.reserve((n + 1) / 2);
  for (size_t i = 0; i < (n + 1) / 2; ++i) {
    packed.push_back(static_cast<char>(128 + 10 * digitAt(2 * i) + digitAt(2 * i + 1)));
  }
  return packed;
}

std::string UnpackDigits(const std::string& packed) {
  std::string digits;
  digits.reserve(packed.size() * 2);
  for (unsigned char byte : packed) {
    int value = (byte & 0x7F) % 100;
    digits.push_back(static_cast<char>('0' + value / 10));
    digits.push_back(static_cast<char>('0' + value % 10));
  }
  return digits;
}

}  // namespace kap
