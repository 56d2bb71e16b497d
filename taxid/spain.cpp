// Spanish NIF (DNI-style), NIE and special NIF, and company CIF.
#include <string_view>

#include "taxid/taxid_internal.h"

namespace kap::taxid_detail {

namespace {

constexpr std::string_view kDigitControlTypes = "ABCDEFGHJUV";
constexpr std::string_view kLetterControlTypes = "NPQRSW";
constexpr std::string_view kDniLetters = "TRWAGMYFPDXBNJZSQVHLCKE";

bool OccursIn(std::string_view haystack, const std::string& needle) {
  return !needle.empty() && haystack.find(needle) != std::string_view::npos;
}

bool IsOneOf(const std::string& p, std::initializer_list<std::string_view> set) {
  for (std::string_view s : set) {
    if (p == s) return true;
  }
  return false;
}

}  // namespace

Outcome SpainRule(const std::string& value) {
  std::string prefix, number, suffix;
  for (char raw : value) {
    char c = UpperAscii(raw);
    if (IsDigit(c)) {
      number += c;
    } else if (IsLetter(c)) {
      (number.empty() ? prefix : suffix) += c;
    }
  }
  // Company types whose control is a digit get it typed as the last digit.
  if (OccursIn(kDigitControlTypes, prefix) && suffix.empty()) suffix = TakeTail(number, 1);

  enum { Company, Person, Foreigner } kind;
  size_t width;
  if ((prefix >= "A" && prefix <= "H") ||
      IsOneOf(prefix, {"J", "N", "P", "Q", "R", "S", "U", "V", "W"})) {
    kind = Company;
    width = 7;
  } else if (prefix.empty()) {
    kind = Person;
    width = 8;
  } else if (IsOneOf(prefix, {"K", "L", "M", "X", "Y", "Z"})) {
    kind = Foreigner;
    width = 7;
  } else {
    return Fail(TaxIdBadForm);
  }
  if (number.size() > width || suffix.size() != 1) return Fail(TaxIdBadLength);
  number = Fill(number, width);

  char control;
  if (kind == Company) {
    // Odd positions count double here, the opposite of the plain-digit countries.
    int sum = 0;
    for (size_t i = 0; i < 7; ++i) {
      int d = DigitValue(number[i]);
      sum += i % 2 == 0 ? DigitsOf(2 * d) : d;
    }
    int r = sum % 10;
    control = OccursIn(kLetterControlTypes, prefix) ? static_cast<char>(64 + (10 - r))
                                                    : static_cast<char>('0' + (10 - r) % 10);
  } else {
    uint64_t n = NumericValue(number);
    if (prefix == "Y") n += 10000000;
    if (prefix == "Z") n += 20000000;
    control = kDniLetters[n % 23];
  }
  if (suffix[0] != control) return Fail(TaxIdBadCheck);
  return Accept(prefix + number + control);
}

}  // namespace kap::taxid_detail
