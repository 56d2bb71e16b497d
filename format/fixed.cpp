#include <algorithm>
#include <cmath>

#include "format/format.h"
#include "format/format_internal.h"

namespace kap {

namespace {
// Widths and decimals beyond this are taken as this; no caller needs more.
constexpr long kMaxFixedDigits = 1000;
}  // namespace

std::string FormatFixed(double value, const std::string& spec) {
  long width = 0;
  long decimals = 0;
  bool pointGiven = false;
  bool optV = false, optZ = false, optS = false, optN = false, optM = false;
  for (char c : spec) {
    if (c >= '0' && c <= '9') {
      long& target = pointGiven ? decimals : width;
      target = std::min(kMaxFixedDigits, target * 10 + (c - '0'));
    } else if (c == '.') {
      pointGiven = true;
    } else {
      switch (c) {
        case 'V':
        case 'v':
          optV = true;
          break;
        case 'Z':
        case 'z':
          optZ = true;
          break;
        case 'S':
        case 's':
          optS = true;
          break;
        case 'N':
        case 'n':
          optN = true;
          break;
        case 'M':
        case 'm':
          optM = true;
          break;
        default:
          break;
      }
    }
  }

  // Infinity and NaN have no digits; they are written as zero.
  if (!std::isfinite(value)) value = 0;
  const format_internal::Decimal magnitude = format_internal::DecimalOf(value);
  std::string digits;
  size_t n;
  if (width > 0 || pointGiven) {
    digits = format_internal::RoundHalfEven(magnitude, static_cast<int>(decimals));
    n = static_cast<size_t>(decimals);
  } else {
    // As many decimals as the number has.
    digits = format_internal::StripLeadingZeros(magnitude.whole + magnitude.fraction);
    n = magnitude.fraction.size();
  }
  if (digits.size() < n) digits = std::string(n - digits.size(), '0') + digits;
  std::string whole = digits.substr(0, digits.size() - n);
  std::string fraction = digits.substr(digits.size() - n);

  if (!optV && !fraction.empty()) fraction = "." + fraction;
  if (optZ && whole.empty()) whole.assign(1, '0');
  if (width > 0) {
    size_t w = static_cast<size_t>(width);
    if (whole.size() < w) whole = std::string(w - whole.size(), '0') + whole;
    if (whole.size() > w) whole.erase(0, whole.size() - w);
  }

  char sign = 0;
  if (optS && value >= 0) {
    sign = '+';
  } else if (optN && value < 0) {
    sign = 'N';
  } else if (optM) {
    sign = value < 0 ? 'N' : ' ';
  } else if (value < 0) {
    sign = '-';
  }
  if (sign != 0) {
    if (width > 0) {
      whole[0] = sign;
    } else {
      whole = std::string(1, sign) + whole;
    }
  }
  return whole + fraction;
}

}  // namespace kap
