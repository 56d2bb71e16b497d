// Small text helpers shared by every layer: fixed-width fields are blank-padded byte strings
// (CP850), so these work on bytes and treat only ASCII specially.
#pragma once

#include <cstddef>
#include <string>

namespace kap {

// `text` without the leading and trailing characters found in `blanks` (spaces by default);
// "" when nothing else is left.
std::string TrimSpaces(const std::string& text, const char* blanks = " ");

// `text` without its trailing spaces.
std::string TrimRight(const std::string& text);

// `text` cut to `width` bytes, or padded with spaces up to it.
std::string PadOrCut(const std::string& text, size_t width);

// `text` with a to z upper-cased; every other byte, accented CP850 letters included, kept.
std::string UpperAscii(std::string text);
inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace kap
