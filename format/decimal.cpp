#include <charconv>
#include <cmath>

#include "format/format_internal.h"

namespace kap::format_internal {

namespace {

// Digits a double carries reliably; beyond them the shortest text may show binary noise.
constexpr size_t kSignificantDigits = 15;

void StripTrailingZeros(std::string& digits) {
  size_t end = digits.find_last_not_of('0');
  digits.erase(end == std::string::npos ? 0 : end + 1);
}

// Rounds the fraction half up to `keep` digits, carrying into the whole part.
void RoundFraction(Decimal& d, size_t keep) {
  if (d.fraction.size() <= keep) return;
  bool up = d.fraction[keep] >= '5';
  d.fraction.erase(keep);
  if (up) {
    std::string all = d.whole + d.fraction;
    IncrementDigits(all);
    d.whole = StripLeadingZeros(all.substr(0, all.size() - keep));
    d.fraction = all.substr(all.size() - keep);
  }
  StripTrailingZeros(d.fraction);
}

}  // namespace

std::string StripLeadingZeros(const std::string& digits) {
  size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

void IncrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

Decimal DecimalOf(double value) {
  Decimal d;
  if (!std::isfinite(value)) return d;
  // Fixed notation of the largest double needs 309 digits, of the smallest 326 characters.
  char text[400];
  auto [end, error] =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::fixed);
  if (error != std::errc()) return d;
  std::string all(text, end);
  size_t point = all.find('.');
  d.whole = StripLeadingZeros(all.substr(0, point));
  if (point != std::string::npos) d.fraction = all.substr(point + 1);
  StripTrailingZeros(d.fraction);

  // Tidy only the fraction: whole digits are never changed.
  if (d.whole.size() < kSignificantDigits) {
    size_t keep = kSignificantDigits - d.whole.size();
    if (d.whole.empty()) {
      size_t leading = d.fraction.find_first_not_of('0');
      keep += leading == std::string::npos ? 0 : leading;
    }
    RoundFraction(d, keep);
  }
  return d;
}

Decimal ParseDecimal(const std::string& text) {
  Decimal d;
  bool inFraction = false;
  for (char c : text) {
    if (c == '.') {
      if (inFraction) break;
      inFraction = true;
    } else if (c >= '0' && c <= '9') {
      (inFraction ? d.fraction : d.whole).push_back(c);
    }
  }
  d.whole = StripLeadingZeros(d.whole);
  StripTrailingZeros(d.fraction);
  return d;
}

std::string RoundHalfEven(const Decimal& d, int places) {
  size_t n = places > 0 ? static_cast<size_t>(places) : 0;
  std::string scaled = d.whole + d.fraction.substr(0, n);
  if (d.fraction.size() < n) scaled.append(n - d.fraction.size(), '0');
  std::string rest = d.fraction.size() > n ? d.fraction.substr(n) : std::string();
  bool up = false;
  if (!rest.empty()) {
    if (rest[0] > '5') {
      up = true;
    } else if (rest[0] == '5') {
      bool above = rest.find_first_not_of('0', 1) != std::string::npos;
      int last = scaled.empty() ? 0 : scaled.back() - '0';
      up = above || last % 2 == 1;
    }
  }
  if (up) IncrementDigits(scaled);
  return StripLeadingZeros(scaled);
}

}  // namespace kap::format_internal
