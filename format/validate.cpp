#include <cfloat>
#include <cmath>

#include "format/format.h"
#include "format/format_internal.h"

namespace kap {

namespace {

using format_internal::Decimal;

// A signed whole number held as digits, so the range test is exact for any double.
struct BigInt {
  bool negative = false;
  std::string digits;  // no leading zeros; "" is zero
};

int CompareMagnitude(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

int Compare(const BigInt& a, const BigInt& b) {
  bool an = a.negative && !a.digits.empty();
  bool bn = b.negative && !b.digits.empty();
  if (an != bn) return an ? -1 : 1;
  int c = CompareMagnitude(a.digits, b.digits);
  return an ? -c : c;
}

// floor(x * 10^places), or floor(x * 10^places + 0.5) with `addHalf`, for x = +/- magnitude.
BigInt ScaledFloor(const Decimal& magnitude, bool negative, int places, bool addHalf) {
  size_t n = static_cast<size_t>(places);
  std::string whole = magnitude.whole + magnitude.fraction.substr(0, n);
  if (magnitude.fraction.size() < n) whole.append(n - magnitude.fraction.size(), '0');
  std::string rest = magnitude.fraction.size() > n ? magnitude.fraction.substr(n) : "";
  // rest has no trailing zeros, so it is non-empty exactly when the fraction is above 0.
  bool fractionAboveZero = !rest.empty();
  bool fractionAtLeastHalf = !rest.empty() && rest[0] >= '5';
  bool fractionAboveHalf = fractionAtLeastHalf && (rest[0] > '5' || rest.size() > 1);
  bool up;
  if (!negative) {
    up = addHalf && fractionAtLeastHalf;
  } else {
    up = addHalf ? fractionAboveHalf : fractionAboveZero;
  }
  if (up) format_internal::IncrementDigits(whole);
  return {negative, format_internal::StripLeadingZeros(whole)};
}

Decimal DecimalOfBound(double bound) {
  // An infinite bound is as wide as the widest finite one.
  return format_internal::DecimalOf(std::isinf(bound) ? DBL_MAX : bound);
}

}  // namespace

int16_t CheckNumberSyntax(const std::string& text, const std::string& allowed) {
  bool noPoint = allowed.find('.') == std::string::npos;
  bool noSign = allowed.find_first_of("-+") == std::string::npos;
  int16_t result = 0;
  for (char c : text) {
    if (c == '+' || c == '-') {
      if (noSign) result = -1;
      noSign = true;
    } else if (c == '.') {
      if (noPoint) result = -1;
      noPoint = true;
      noSign = true;
    } else if (c >= '0' && c <= '9') {
      noSign = true;
    } else if (c != ' ') {
      result = -1;
    }
  }
  return result;
}

int16_t ValidateNumber(const std::string& text, double minimum, double maximum, int16_t decimals) {
  if (std::isnan(minimum) || std::isnan(maximum)) return -1;
  if (maximum < minimum || decimals < 0 || decimals > 16) return -1;
  std::string allowed;
  if (decimals > 0) allowed += ".";
  if (minimum < 0) allowed += "-";
  int16_t syntax = CheckNumberSyntax(text, allowed);
  if (syntax != 0) return syntax;

  // The text now holds spaces, digits, at most one point and at most one leading sign;
  // spaces are not significant.
  bool negative = text.find('-') != std::string::npos;
  BigInt a = ScaledFloor(format_internal::ParseDecimal(text), negative, decimals, true);
  BigInt lo = ScaledFloor(DecimalOfBound(minimum), minimum < 0, decimals, false);
  BigInt hi = ScaledFloor(DecimalOfBound(maximum), maximum < 0, decimals, true);
  if (Compare(a, lo) < 0 || Compare(a, hi) > 0) return -1;
  return 0;
}

}  // namespace kap
