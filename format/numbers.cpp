#include <algorithm>
#include <cmath>

#include "format/format.h"
#include "format/format_internal.h"
#include "session/session.h"

namespace kap {

namespace {

using format_internal::Decimal;

bool IsDigitPosition(char c) { return c == '9' || c == 'Z' || c == 'z' || c == '*'; }

// The number written without the picture: sign, whole digits, decimal character and the N
// decimals, right-aligned in L characters and cut on the right; all "!" when even the whole
// digits and the sign do not fit.
std::string PlainForm(const std::string& digits, size_t decimals, bool negative, size_t width,
                      char decimalChar) {
  std::string padded = digits;
  if (padded.size() < decimals + 1) padded.insert(0, decimals + 1 - padded.size(), '0');
  std::string whole = padded.substr(0, padded.size() - decimals);
  size_t needed = whole.size() + (negative ? 1 : 0);
  if (width < needed) return std::string(width, '!');
  std::string text = (negative ? "-" : "") + whole;
  if (decimals > 0) text += decimalChar + padded.substr(padded.size() - decimals);
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text.substr(0, width);
}

}  // namespace

std::string FormatNumber(const std::string& picture, double value) {
  const auto& settings = format_internal::EnsureNumberSettings();
  const long L = static_cast<long>(picture.size());
  if (!std::isfinite(value)) return std::string(picture.size(), '!');

  bool isSigned = picture.find_first_of("-+") != std::string::npos;
  long D = 0;  // decimal positions
  long N = 0;  // decimal digits
  size_t point = picture.find('.');
  if (point != std::string::npos) {
    for (size_t i = point + 1; i < picture.size(); ++i) {
      if (IsDigitPosition(picture[i]) || picture[i] == '-' || picture[i] == '+') ++D;
    }
    for (size_t i = point + 1; D > 0 && i < picture.size() && IsDigitPosition(picture[i]); ++i) {
      ++N;
    }
  }

  const Decimal magnitude = format_internal::DecimalOf(value);
  const std::string digits = format_internal::RoundHalfEven(magnitude, static_cast<int>(N));
  const long len = static_cast<long>(digits.size());
  bool negative = value < 0;
  const bool valueIsZero = value == 0;

  auto digitAt = [&](long k) -> char { return k >= 1 && k <= len ? digits[k - 1] : 0; };
  // Whether the digits from k to the end form a number above zero.
  auto restAboveZero = [&](long k) {
    if (k > len) return false;
    return digits.find_first_not_of('0', static_cast<size_t>(std::max(1L, k) - 1)) !=
           std::string::npos;
  };

  std::string out = picture;
  long k = D + len - N;
  char fill = 0;
  bool fillBlank = false;
  long i = L;

  // Main pass: right to left while digits remain.
  for (; i >= 1 && k >= 1; --i) {
    char& o = out[i - 1];
    switch (picture[i - 1]) {
      case '9': {
        char c = digitAt(k);
        o = c ? c : '0';
        fill = 0;
        fillBlank = false;
        --k;
        break;
      }
      case 'Z':
      case 'z': {
        char c = digitAt(k);
        if (i < L - D) {
          o = c ? c : ' ';
        } else if (restAboveZero(k) || D == 0) {
          o = c ? c : '0';
        } else {
          o = ' ';
        }
        fill = ' ';
        fillBlank = c == 0 || o == ' ';
        --k;
        break;
      }
      case '*': {
        char c = digitAt(k);
        o = c ? c : '*';
        fill = '*';
        fillBlank = c == 0;
        --k;
        break;
      }
      case '.':
        o = fillBlank ? ' ' : settings.DecimalChar;
        D = 0;
        break;
      case ',':
        o = settings.ThousandsChar;
        break;
      case '-':
        o = negative ? '-' : ' ';
        if (D > 0) --k;
        break;
      case '+':
        o = negative ? '-' : '+';
        if (D > 0) --k;
        break;
      default:
        break;
    }
  }

  bool overflow = k >= 1 || (negative && !isSigned && i < 1);
  if (!overflow) {
    // Completion pass over the positions the digits did not reach.
    for (; i >= 1; --i) {
      char& o = out[i - 1];
      const bool wholePart = i < L - D;
      const bool takesMinus = negative && !isSigned;
      switch (picture[i - 1]) {
        case '9':
          if (takesMinus && wholePart) {
            o = '-';
            negative = false;
          } else {
            o = '0';
          }
          fill = 0;
          fillBlank = false;
          break;
        case 'Z':
        case 'z':
          if (takesMinus) {
            o = '-';
            negative = false;
          } else if (wholePart || valueIsZero) {
            o = ' ';
            fill = ' ';
            fillBlank = true;
          } else {
            o = '0';
            fill = ' ';
            fillBlank = false;
          }
          break;
        case '*':
          if (takesMinus) {
            o = '-';
            negative = false;
          } else {
            o = wholePart ? '*' : '0';
            fill = '*';
            fillBlank = false;
          }
          break;
        case ',':
          if (takesMinus) {
            o = '-';
            negative = false;
          } else {
            o = fill ? fill : settings.ThousandsChar;
          }
          break;
        case '.':
          o = fillBlank ? ' ' : settings.DecimalChar;
          break;
        case '-':
          o = negative ? '-' : ' ';
          break;
        case '+':
          o = negative ? '-' : '+';
          break;
        default:
          break;
      }
    }
    // A minus that found no free position would show a negative number as positive.
    overflow = negative && !isSigned;
  }
  if (overflow) {
    return PlainForm(digits, static_cast<size_t>(N), value < 0, picture.size(),
                     settings.DecimalChar);
  }
  return out;
}

std::string FormatMoney(const std::string& layout, double cents) {
  const size_t L = layout.size();
  int d = 0;
  bool inDecimals = false;
  bool show = cents != 0;
  bool grouped = false;
  char fill = 'Z';
  char sign = 0;
  bool leadingSign = false;
  for (size_t i = 0; i < L; ++i) {
    char c = layout[i];
    if (c == '.') {
      inDecimals = true;
      ++d;
    } else if (c == '9') {
      if (inDecimals) {
        ++d;
      } else {
        show = true;
      }
    } else if (c == ',') {
      grouped = true;
    } else if (c == 'Z' || c == '*') {
      fill = c;
    } else if (c == '-' || c == '+') {
      sign = c;
      leadingSign = i == 0;
    }
  }

  auto keepLast = [L](std::string& text) {
    if (text.size() > L) text.erase(0, text.size() - L);
  };
  std::string picture(L, fill);
  if (show && L > 0) picture.back() = '9';
  if (grouped) {
    for (long p = static_cast<long>(L) - 3; p >= 1; p -= 4) {
      picture.insert(static_cast<size_t>(p), 1, ',');
      keepLast(picture);
    }
  }

  double value;
  if (CurrentSession().CurrentCurrency == "P") {
    // Whole cents times the rate in hundred-thousandths: one rounding instead of two.
    value = cents * 166386.0 / 100000.0;
  } else {
    value = cents / 100.0;
    d = d + 2 + (d == 0 ? 1 : 0);
  }
  if (d > 0) {
    picture += '.';
    picture.append(static_cast<size_t>(d - 1), show ? '9' : 'Z');
    keepLast(picture);
  }
  if (sign != 0 && L > 0) {
    if (leadingSign) {
      picture[0] = sign;
    } else {
      picture += sign;
      keepLast(picture);
    }
  }
  return FormatNumber(picture, value);
}

}  // namespace kap
