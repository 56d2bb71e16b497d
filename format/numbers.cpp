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

// Positions after the point that take a digit or a sign, and the digit positions among them
// that follow the point directly (the decimals the number is rounded to).
struct PictureDecimals {
  long positions = 0;
  long digits = 0;
};

PictureDecimals DecimalsOf(const std::string& picture) {
  PictureDecimals d;
  const size_t point = picture.find('.');
  if (point == std::string::npos) return d;
  for (size_t i = point + 1; i < picture.size(); ++i) {
    if (IsDigitPosition(picture[i]) || picture[i] == '-' || picture[i] == '+') ++d.positions;
  }
  for (size_t i = point + 1; d.positions > 0 && i < picture.size() && IsDigitPosition(picture[i]);
       ++i) {
    ++d.digits;
  }
  return d;
}

// Writes the rounded digits of a number into a picture from right to left: first the
// positions the digits reach, then the ones they leave (fills, zeros, a minus looking for a
// place). Used once per number.
class PictureWriter {
 public:
  PictureWriter(const std::string& picture, const std::string& digits,
                const PictureDecimals& decimals, double value,
                const format_internal::FormatSettings& settings)
      : picture_(picture),
        digits_(digits),
        settings_(settings),
        out_(picture),
        width_(static_cast<long>(picture.size())),
        decimals_(decimals.positions),
        signed_(picture.find_first_of("-+") != std::string::npos),
        negative_(value < 0),
        zero_(value == 0),
        next_(decimals.positions + static_cast<long>(digits.size()) - decimals.digits),
        at_(static_cast<long>(picture.size())) {}

  // False when the number does not fit the picture.
  bool Write() {
    for (; at_ >= 1 && next_ >= 1; --at_) WriteDigitPosition(out_[at_ - 1], picture_[at_ - 1]);
    if (next_ >= 1 || (negative_ && !signed_ && at_ < 1)) return false;
    for (; at_ >= 1; --at_) CompletePosition(out_[at_ - 1], picture_[at_ - 1]);
    // A minus that found no free position would show a negative number as positive.
    return !(negative_ && !signed_);
  }
  const std::string& text() const { return out_; }

 private:
  // Digit k of the rounded number (1 = leftmost), 0 beyond its ends.
  char DigitAt(long k) const {
    return k >= 1 && k <= static_cast<long>(digits_.size()) ? digits_[k - 1] : 0;
  }
  // Whether the digits from k to the end form a number above zero.
  bool RestAboveZero(long k) const {
    if (k > static_cast<long>(digits_.size())) return false;
    return digits_.find_first_not_of('0', static_cast<size_t>(std::max(1L, k) - 1)) !=
           std::string::npos;
  }
  bool InWholePart() const { return at_ < width_ - decimals_; }
  void SetFill(char fill, bool blank) {
    fill_ = fill;
    fillBlank_ = blank;
  }

  // A position reached while digits remain.
  void WriteDigitPosition(char& o, char position) {
    switch (position) {
      case '9': {
        const char c = DigitAt(next_--);
        o = c ? c : '0';
        SetFill(0, false);
        break;
      }
      case 'Z':
      case 'z': {
        const char c = DigitAt(next_);
        if (InWholePart()) {
          o = c ? c : ' ';
        } else if (RestAboveZero(next_) || decimals_ == 0) {
          o = c ? c : '0';
        } else {
          o = ' ';
        }
        --next_;
        SetFill(' ', c == 0 || o == ' ');
        break;
      }
      case '*': {
        const char c = DigitAt(next_--);
        o = c ? c : '*';
        SetFill('*', c == 0);
        break;
      }
      case '.':
        o = fillBlank_ ? ' ' : settings_.DecimalChar;
        decimals_ = 0;
        break;
      case ',':
        o = settings_.ThousandsChar;
        break;
      case '-':
        o = negative_ ? '-' : ' ';
        if (decimals_ > 0) --next_;
        break;
      case '+':
        o = negative_ ? '-' : '+';
        if (decimals_ > 0) --next_;
        break;
      default:
        break;
    }
  }

  // A position the digits did not reach; the first free one takes a minus the picture has no
  // sign position for.
  void CompletePosition(char& o, char position) {
    const bool takesMinus = negative_ && !signed_;
    auto placeMinus = [&] {
      o = '-';
      negative_ = false;
    };
    switch (position) {
      case '9':
        if (takesMinus && InWholePart()) {
          placeMinus();
        } else {
          o = '0';
        }
        SetFill(0, false);
        break;
      case 'Z':
      case 'z':
        if (takesMinus) {
          placeMinus();
        } else if (InWholePart() || zero_) {
          o = ' ';
          SetFill(' ', true);
        } else {
          o = '0';
          SetFill(' ', false);
        }
        break;
      case '*':
        if (takesMinus) {
          placeMinus();
        } else {
          o = InWholePart() ? '*' : '0';
          SetFill('*', false);
        }
        break;
      case ',':
        if (takesMinus) {
          placeMinus();
        } else {
          o = fill_ ? fill_ : settings_.ThousandsChar;
        }
        break;
      case '.':
        o = fillBlank_ ? ' ' : settings_.DecimalChar;
        break;
      case '-':
        o = negative_ ? '-' : ' ';
        break;
      case '+':
        o = negative_ ? '-' : '+';
        break;
      default:
        break;
    }
  }

  const std::string& picture_;
  const std::string& digits_;
  const format_internal::FormatSettings& settings_;
  std::string out_;
  const long width_;
  long decimals_;      // decimal positions still to the right of the point; 0 once passed
  const bool signed_;  // the picture has a sign position
  bool negative_;      // a minus still to be written
  const bool zero_;
  long next_;      // the next digit to write, counted from the left
  long at_;        // the picture position being written, from 1
  char fill_ = 0;  // what the last digit position fills with (' ', '*' or none)
  bool fillBlank_ = false;
};

}  // namespace

std::string FormatNumber(const std::string& picture, double value) {
  const auto& settings = format_internal::EnsureNumberSettings();
  if (!std::isfinite(value)) return std::string(picture.size(), '!');
  const PictureDecimals decimals = DecimalsOf(picture);
  const std::string digits = format_internal::RoundHalfEven(format_internal::DecimalOf(value),
                                                            static_cast<int>(decimals.digits));
  PictureWriter writer(picture, digits, decimals, value, settings);
  if (writer.Write()) return writer.text();
  return PlainForm(digits, static_cast<size_t>(decimals.digits), value < 0, picture.size(),
                   settings.DecimalChar);
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
