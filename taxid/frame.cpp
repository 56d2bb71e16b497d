// The splitting frame, filling and the small arithmetic shared by the country rules.
#include <limits>
#include <string>

#include "taxid/taxid_internal.h"

namespace kap::taxid_detail {

Parts SplitUsual(const std::string& value) {
  Parts parts;
  for (char raw : value) {
    char c = UpperAscii(raw);
    if (IsLetter(c)) {
      parts.letters += c;
    } else if (IsDigit(c)) {
      parts.digits += c;
    }
  }
  return parts;
}

std::string TakeTail(std::string& from, size_t count) {
  size_t start = from.size() > count ? from.size() - count : 0;
  std::string tail = from.substr(start);
  from.erase(start);
  return tail;
}

uint64_t NumericValue(const std::string& digits) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t n = 0;
  for (char c : digits) {
    if (!IsDigit(c)) continue;
    uint64_t d = static_cast<uint64_t>(DigitValue(c));
    if (n > (kMax - d) / 10) return kMax;
    n = n * 10 + d;
  }
  return n;
}

std::string Fill(const std::string& digits, size_t width) {
  size_t first = digits.find_first_not_of('0');
  std::string significant = first == std::string::npos ? std::string() : digits.substr(first);
  if (significant.size() >= width) return significant;
  return std::string(width - significant.size(), '0') + significant;
}

int TableNumber(const char* table, size_t index, int width) {
  int number = 0;
  for (int k = 0; k < width; ++k) {
    char c = table[index * static_cast<size_t>(width) + static_cast<size_t>(k)];
    if (IsDigit(c)) number = number * 10 + DigitValue(c);
  }
  return number;
}

int WeightedSum(const std::string& digits, const char* weights, int width) {
  size_t count = std::char_traits<char>::length(weights) / static_cast<size_t>(width);
  int sum = 0;
  for (size_t i = 0; i < digits.size() && i < count; ++i) {
    sum += TableNumber(weights, i, width) * DigitValue(digits[i]);
  }
  return sum;
}

int AlternateDoubleSum(const std::string& digits, size_t count) {
  int sum = 0;
  for (size_t i = 0; i < count && i < digits.size(); ++i) {
    int d = DigitValue(digits[i]);
    sum += (i % 2 == 0) ? d : DigitsOf(2 * d);
  }
  return sum;
}

bool EmbeddedDateOk(const std::string& yy, const std::string& mm, const std::string& dd,
                    DateStyle style) {
  bool czsk = style == DateStyle::CzSk;
  bool monthOk = (mm >= "01" && mm <= "12") || (czsk && mm >= "51" && mm <= "62");
  bool february = mm == "02" || (czsk && mm == "52");
  bool thirtyDays = mm == "04" || mm == "06" || mm == "09" || mm == "11" ||
                    (czsk && (mm == "54" || mm == "56" || mm == "59" || mm == "61"));
  std::string last = "31";
  if (february) {
    last = NumericValue(yy) % 4 != 0 ? "28" : "29";
  } else if (thirtyDays) {
    last = "30";
  }
  // Every breach gives the same code, so the order the countries test in cannot show.
  return monthOk && dd >= "01" && dd <= last;
}

}  // namespace kap::taxid_detail
