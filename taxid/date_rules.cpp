// Countries with several forms told apart by length or first digits, some embedding a birth
// date: the Czech Republic, Lithuania, Latvia, Romania, Sweden and Slovakia.
#include <string_view>

#include "taxid/taxid_internal.h"

namespace kap::taxid_detail {

namespace {

// Personal numbers of the Czech Republic and Slovakia: YYMMDD..., nine digits up to 1953,
// ten from 1954.
int16_t CzSkPersonalDate(const std::string& n) {
  std::string yy = n.substr(0, 2);
  bool yearOk = n.size() == 9 ? yy <= "53" : yy >= "54";
  if (!yearOk) return TaxIdBadForm;
  if (!EmbeddedDateOk(yy, n.substr(2, 2), n.substr(4, 2), DateStyle::CzSk)) return TaxIdBadForm;
  return TaxIdOk;
}

std::string OneDigit(int v) { return std::string(1, static_cast<char>('0' + v)); }

}  // namespace

Outcome CzechRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  std::string number = parts.digits;
  bool hasCheck = number.size() < 9 || (number.size() == 9 && number[0] == '6');
  std::string check = hasCheck ? TakeTail(number, 1) : std::string();
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  size_t length = number.size();
  if (hasCheck ? (length != 7 && length != 8) : (length != 9 && length != 10)) {
    return Fail(TaxIdBadLength);
  }
  if (!hasCheck) {
    if (int16_t code = CzSkPersonalDate(number); code != TaxIdOk) return Fail(code);
    if (length == 10) {
      int pairs = 0;
      for (size_t i = 0; i < 10; i += 2) pairs += std::stoi(number.substr(i, 2));
      if (pairs % 11 != 0) return Fail(TaxIdBadCheck);
    }
    return Accept(number);
  }
  std::string k;
  if (length == 7) {
    int r = 11 - WeightedSum(number, "8765432") % 11;
    k = OneDigit(r == 10 ? 0 : r == 11 ? 1 : r);
  } else {
    int a = 11 - WeightedSum(number.substr(1), "8765432") % 11;
    k = OneDigit(9 - a % 10);
  }
  if (check != k) return Fail(TaxIdBadCheck);
  return Accept(number + k);
}

Outcome LithuaniaRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  std::string number = parts.digits;
  std::string check = TakeTail(number, 1);
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  if ((number.size() != 8 && number.size() != 11) || check.size() != 1) {
    return Fail(TaxIdBadLength);
  }
  if (number.back() != '1') return Fail(TaxIdImpossible);
  constexpr const char* kWeights = "1234567891234";
  int r = WeightedSum(number, kWeights) % 11;
  if (r == 10) r = WeightedSum(number, kWeights + 2) % 11;
  std::string k = OneDigit(r == 10 ? 0 : r);
  if (check != k) return Fail(TaxIdBadCheck);
  return Accept(number + k);
}

Outcome LatviaRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  std::string number = parts.digits;
  // Companies start above 3; personal codes start with the day of birth.
  bool company = !number.empty() && number[0] > '3';
  std::string check = company ? TakeTail(number, 1) : std::string();
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  if (company ? (number.size() != 10 || check.size() != 1) : number.size() != 11) {
    return Fail(TaxIdBadLength);
  }
  if (!company) {
    // Personal codes issued since 2017 begin with 32 and carry no birth date.
    if (number.compare(0, 2, "32") == 0) return Accept(number);
    if (!EmbeddedDateOk(number.substr(4, 2), number.substr(2, 2), number.substr(0, 2),
                        DateStyle::Lv)) {
      return Fail(TaxIdBadForm);
    }
    return Accept(number);
  }
  int sum = WeightedSum(number, " 9 1 4 8 310 2 5 7 6", 2);
  if (sum % 11 == 4 && number[0] == '9') sum -= 45;
  int r = sum % 11;
  int k = r == 4 ? 0 : r > 4 ? 14 - r : 3 - r;
  if (check != OneDigit(k)) return Fail(TaxIdBadCheck);
  return Accept(number + check);
}

Outcome RomaniaRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  std::string number = parts.digits;
  std::string check = TakeTail(number, 1);
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  bool personal = number.size() == 12;
  if ((!personal && (number.empty() || number.size() > 9)) || check.size() != 1) {
    return Fail(TaxIdBadLength);
  }
  int r;
  if (personal) {
    if (std::string_view("12346").find(number[0]) == std::string_view::npos) {
      return Fail(TaxIdBadForm);
    }
    if (!EmbeddedDateOk(number.substr(1, 2), number.substr(3, 2), number.substr(5, 2),
                        DateStyle::Ro)) {
      return Fail(TaxIdBadForm);
    }
    r = WeightedSum(number, "279146358279") % 11;
    if (r == 10) r = 1;
  } else {
    number = Fill(number, 9);
    r = WeightedSum(number, "753217532") * 10 % 11;
    if (r == 10) r = 0;
  }
  if (check != OneDigit(r)) return Fail(TaxIdBadCheck);
  return Accept(number + check);
}

Outcome SwedenRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  std::string digits = parts.digits;
  std::string check, number = digits;
  if (digits.size() >= 3) {
    check = digits.substr(digits.size() - 3, 1);
    number = digits.substr(0, digits.size() - 3) + digits.substr(digits.size() - 2);
  }
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  if (number.size() > 11 || check.size() != 1) return Fail(TaxIdBadLength);
  number = Fill(number, 11);
  if (number.substr(9) == "00") return Fail(TaxIdImpossible);
  // The sum runs over the nine-digit number and the first digit of the suffix.
  int sum = 0;
  for (size_t i = 0; i < 10; ++i) {
    int d = DigitValue(number[i]);
    sum += i % 2 == 0 ? DigitsOf(2 * d) : d;
  }
  std::string k = OneDigit((10 - sum % 10) % 10);
  if (check != k) return Fail(TaxIdBadCheck);
  return Accept(number.substr(0, 9) + k + number.substr(9));
}

Outcome SlovakiaRule(const std::string& value) {
  Parts parts = SplitUsual(value);
  const std::string& number = parts.digits;
  if (!parts.letters.empty()) return Fail(TaxIdBadForm);
  if (number.size() != 9 && number.size() != 10) return Fail(TaxIdImpossible);
  std::string lead = number.substr(0, 2);
  if (number.size() == 10 && (lead == "00" || lead == "10" || lead == "20")) {
    return Accept(number);
  }
  if (int16_t code = CzSkPersonalDate(number); code != TaxIdOk) return Fail(code);
  return Accept(number);
}

}  // namespace kap::taxid_detail
