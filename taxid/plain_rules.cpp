// The countries whose VAT number is a run of digits closed by a weighted check digit (or two):
// one table row per country, walked by one procedure.
#include <cstdio>

#include "taxid/taxid_internal.h"

namespace kap::taxid_detail {

namespace {

enum class FillMode { All, AfterFirst, None };

// Each check computes the expected check text `k` from the filled number; TaxIdBadCheck when
// the number admits no check at all. `k` comes in holding the typed check, `number` may be
// rewritten for the canonical form.
using CheckFn = int16_t (*)(const std::string& typed, std::string& number, std::string& k);
// A country's own structural test; TaxIdOk when it passes.
using TestFn = int16_t (*)(const std::string& number);

struct PlainCountry {
  const char* code;
  const char* letters;          // the letters the number must carry ("" = none)
  size_t checkDigits;           // moved from the end of the digits into the check part
  size_t minDigits, maxDigits;  // allowed length of the number part
  FillMode fill;
  size_t width;          // fill width of the number part
  TestFn beforeLengths;  // runs after the letter test, before the lengths
  TestFn beforeFill;
  TestFn afterFill;
  CheckFn check;
};

std::string TwoDigits(int v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", v);
  return text;
}

std::string OneDigit(int v) { return std::string(1, static_cast<char>('0' + v)); }

// Own tests.

int16_t FirstDigitAtLeastOne(const std::string& n) {
  return !n.empty() && n[0] >= '1' ? TaxIdOk : TaxIdBadForm;
}

int16_t BelgiumSecondDigit(const std::string& n) {
  // Numbers beginning with 1 are issued since those beginning with 0 ran out.
  if (!n.empty() && n[0] == '1') return TaxIdOk;
  return n.size() >= 2 && n[1] >= '2' ? TaxIdOk : TaxIdBadForm;
}

int16_t BulgariaLeadingTwoOrThree(const std::string& n) {
  if (n.size() == 8) return TaxIdOk;  // nine-digit company numbers may begin with anything
  if (!n.empty() && (n[0] == '2' || n[0] == '3') && n.substr(1, 2) != "22") return TaxIdBadForm;
  return TaxIdOk;
}

int16_t NotZero(const std::string& n) { return NumericValue(n) == 0 ? TaxIdImpossible : TaxIdOk; }

int16_t ItalyOffice(const std::string& n) {
  if (n.compare(0, 7, "0000000") == 0) return TaxIdImpossible;
  uint64_t office = NumericValue(n.substr(7, 3));
  bool known = (office >= 1 && office <= 100) || office == 120 || office == 121 || office == 888 ||
               office == 999;
  return known ? TaxIdOk : TaxIdImpossible;
}

int16_t MaltaMinimum(const std::string& n) {
  return NumericValue(n) < 100001 ? TaxIdImpossible : TaxIdOk;
}

int16_t SloveniaMinimum(const std::string& n) {
  return NumericValue(n) < 1000000 ? TaxIdImpossible : TaxIdOk;
}

// Check computations.

int16_t AustriaCheck(const std::string&, std::string& n, std::string& k) {
  int r = 10 - (AlternateDoubleSum(n, 7) + 4) % 10;
  k = OneDigit(r % 10);
  return TaxIdOk;
}

int16_t BelgiumCheck(const std::string&, std::string& n, std::string& k) {
  k = TwoDigits(static_cast<int>(97 - NumericValue(n) % 97));
  return TaxIdOk;
}

// Personal numbers start with the birth date; 20 is added to the month for the 1800s and 40
// for the 2000s.
bool BulgarianBirthDate(const std::string& n) {
  int yy = std::stoi(n.substr(0, 2));
  int mm = std::stoi(n.substr(2, 2));
  int dd = std::stoi(n.substr(4, 2));
  int year = 1900 + yy;
  if (mm > 40) {
    year += 100;
    mm -= 40;
  } else if (mm > 20) {
    year -= 100;
    mm -= 20;
  }
  if (mm < 1 || mm > 12 || dd < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return dd <= kDays[mm - 1] + (mm == 2 && leap ? 1 : 0);
}

int16_t BulgariaCheck(const std::string& typed, std::string& n, std::string& k) {
  if (typed.size() == 8) {
    // Nine-digit company numbers: weights 1 to 8, then 3 to 10 when that leaves 10.
    n = typed;
    int r = WeightedSum(n, "12345678") % 11;
    if (r == 10) r = WeightedSum(n, " 3 4 5 6 7 8 910", 2) % 11;
    k = OneDigit(r % 10);
    return TaxIdOk;
  }
  // Ten digits may be a personal number, a foreigner's number or another entity's number;
  // the typed check digit is offered to each in turn.
  if (typed.size() == 9) {
    std::string personal = OneDigit(WeightedSum(n, " 2 4 8 510 9 7 3 6", 2) % 11 % 10);
    if (BulgarianBirthDate(n) && personal == k) return TaxIdOk;
    std::string foreigner = OneDigit(WeightedSum(n, "211917131109070301", 2) % 10);
    if (foreigner == k) return TaxIdOk;
  }
  int r = 11 - WeightedSum(n, "432765432") % 11;
  if (r == 10) return TaxIdBadCheck;
  k = OneDigit(r % 11);
  return TaxIdOk;
}

int16_t GermanyCheck(const std::string&, std::string& n, std::string& k) {
  // ISO 7064 MOD 11,10.
  int p = 0;
  for (char c : n) {
    int s = (p + DigitValue(c) + 9) % 10 + 1;
    p = (2 * s) % 11;
  }
  k = OneDigit((11 - p) % 10);
  return TaxIdOk;
}

int16_t DenmarkCheck(const std::string&, std::string& n, std::string& k) {
  k.clear();  // the whole number is checked; there is no separate check digit
  return WeightedSum(n, "27654321") % 11 == 0 ? TaxIdOk : TaxIdBadCheck;
}

int16_t EstoniaCheck(const std::string&, std::string& n, std::string& k) {
  k = OneDigit((10 - WeightedSum(n, "37137137") % 10) % 10);
  return TaxIdOk;
}

int16_t FinlandCheck(const std::string&, std::string& n, std::string& k) {
  int r = 11 - WeightedSum(n, " 7 910 5 8 4 2", 2) % 11;
  if (r == 10) return TaxIdBadCheck;
  k = OneDigit(r % 11);
  return TaxIdOk;
}

int16_t GreeceCheck(const std::string&, std::string& n, std::string& k) {
  // A seven-digit number is weighted as if a zero stood in front.
  std::string eight = n.size() == 7 ? "0" + n : n;
  int sum = 0;
  for (size_t i = 0; i < 8; ++i) sum += DigitValue(eight[i]) << (8 - i);
  k = OneDigit(sum % 11 % 10);
  return TaxIdOk;
}

int16_t HungaryCheck(const std::string&, std::string& n, std::string& k) {
  k = OneDigit((10 - WeightedSum(n, "9731973") % 10) % 10);
  return TaxIdOk;
}

int16_t ItalyCheck(const std::string&, std::string& n, std::string& k) {
  k = OneDigit((10 - AlternateDoubleSum(n, 10) % 10) % 10);
  return TaxIdOk;
}

int16_t LuxembourgCheck(const std::string&, std::string& n, std::string& k) {
  k = TwoDigits(static_cast<int>(NumericValue(n) % 89));
  return TaxIdOk;
}

int16_t MaltaCheck(const std::string&, std::string& n, std::string& k) {
  k = TwoDigits(37 - WeightedSum(n, "346789") % 37);
  return TaxIdOk;
}

int16_t PolandCheck(const std::string&, std::string& n, std::string& k) {
  int r = WeightedSum(n, "657234567") % 11;
  if (r == 10) return TaxIdBadCheck;
  k = OneDigit(r);
  return TaxIdOk;
}

int16_t PortugalCheck(const std::string&, std::string& n, std::string& k) {
  int r = 11 - WeightedSum(n, "98765432") % 11;
  k = OneDigit(r > 9 ? 0 : r);
  return TaxIdOk;
}

int16_t SloveniaCheck(const std::string&, std::string& n, std::string& k) {
  int r = 11 - WeightedSum(n, "8765432") % 11;
  k = OneDigit(r == 10 ? 0 : r == 11 ? 1 : r);
  return TaxIdOk;
}

constexpr PlainCountry kPlainCountries[] = {
    // code letters check min max fill width beforeLengths beforeFill afterFill check
    {"AT", "U", 1, 0, 7, FillMode::All, 7, nullptr, nullptr, nullptr, AustriaCheck},
    {"BE", "", 2, 0, 8, FillMode::All, 8, nullptr, nullptr, BelgiumSecondDigit, BelgiumCheck},
    {"BG", "", 1, 1, 9, FillMode::All, 9, nullptr, BulgariaLeadingTwoOrThree, nullptr,
     BulgariaCheck},
    {"DE", "", 1, 0, 8, FillMode::All, 8, nullptr, NotZero, nullptr, GermanyCheck},
    {"DK", "", 0, 0, 8, FillMode::AfterFirst, 8, nullptr, FirstDigitAtLeastOne, nullptr,
     DenmarkCheck},
    {"EE", "", 1, 0, 8, FillMode::All, 8, nullptr, nullptr, nullptr, EstoniaCheck},
    {"FI", "", 1, 0, 7, FillMode::All, 7, nullptr, nullptr, nullptr, FinlandCheck},
    {"GR", "", 1, 7, 8, FillMode::None, 8, nullptr, nullptr, nullptr, GreeceCheck},
    {"EL", "", 1, 7, 8, FillMode::None, 8, nullptr, nullptr, nullptr, GreeceCheck},
    {"HU", "", 1, 0, 7, FillMode::All, 7, nullptr, NotZero, nullptr, HungaryCheck},
    {"IT", "", 1, 0, 10, FillMode::All, 10, nullptr, nullptr, ItalyOffice, ItalyCheck},
    {"LU", "", 2, 0, 6, FillMode::All, 6, nullptr, NotZero, nullptr, LuxembourgCheck},
    {"MT", "", 2, 0, 6, FillMode::All, 6, nullptr, MaltaMinimum, nullptr, MaltaCheck},
    {"PL", "", 1, 0, 9, FillMode::All, 9, nullptr, nullptr, nullptr, PolandCheck},
    {"PT", "", 1, 0, 8, FillMode::AfterFirst, 8, FirstDigitAtLeastOne, nullptr, nullptr,
     PortugalCheck},
    {"SI", "", 1, 0, 7, FillMode::All, 7, nullptr, SloveniaMinimum, nullptr, SloveniaCheck},
};

}  // namespace

Outcome PlainRule(const std::string& country, const std::string& value) {
  const PlainCountry* rule = nullptr;
  for (const PlainCountry& row : kPlainCountries) {
    if (country == row.code) rule = &row;
  }
  if (rule == nullptr) return Fail(TaxIdNoRule);

  Parts parts = SplitUsual(value);
  std::string number = parts.digits;
  std::string check = TakeTail(number, rule->checkDigits);
  if (parts.letters != rule->letters) return Fail(TaxIdBadForm);
  if (rule->beforeLengths != nullptr) {
    if (int16_t code = rule->beforeLengths(number); code != TaxIdOk) return Fail(code);
  }
  if (number.size() < rule->minDigits || number.size() > rule->maxDigits ||
      check.size() != rule->checkDigits) {
    return Fail(TaxIdBadLength);
  }
  if (rule->beforeFill != nullptr) {
    if (int16_t code = rule->beforeFill(number); code != TaxIdOk) return Fail(code);
  }
  std::string typed = number;
  switch (rule->fill) {
    case FillMode::All:
      number = Fill(number, rule->width);
      break;
    case FillMode::AfterFirst:
      number = number.substr(0, 1) + Fill(number.substr(1), rule->width - 1);
      break;
    case FillMode::None:
      break;
  }
  if (rule->afterFill != nullptr) {
    if (int16_t code = rule->afterFill(number); code != TaxIdOk) return Fail(code);
  }
  std::string expected = check;  // rules with several forms try the typed check on each
  if (int16_t code = rule->check(typed, number, expected); code != TaxIdOk) return Fail(code);
  if (expected != check) return Fail(TaxIdBadCheck);
  return Accept(rule->letters + number + expected);
}

}  // namespace kap::taxid_detail
