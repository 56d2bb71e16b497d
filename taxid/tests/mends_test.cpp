// Numbers of forms issued after the original rules were written: current Bulgarian, Belgian,
// Dutch, Irish, Latvian and Italian numbers. Each valid number was worked out by hand from
// the country's published method or is a public example.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "taxid/taxid.h"
#include "taxid/tests/taxid_cases.h"

namespace kap {
namespace {

TEST(TaxIdBulgaria, NineDigitCompanyNumbers) {
  RunCases({
      {"BG", "175074752", 0, "175074752"},
      {"BG", "100000086", 0, "100000086"},  // first sum leaves 10: weights 3 to 10
      {"BG", "100002170", 0, "100002170"},  // both sums leave 10: check 0
      {"BG", "210000004", 0, "210000004"},  // a leading 2 needs no 22 after it
      {"BG", "175074753", TaxIdBadCheck, ""},
      {"BG", "100000080", TaxIdBadCheck, ""},
  });
}

TEST(TaxIdBulgaria, TenDigitPersonalForeignerAndOtherNumbers) {
  RunCases({
      {"BG", "7523169263", 0, "7523169263"},  // personal, born 1875 (month + 20)
      {"BG", "0441010007", 0, "0441010007"},  // personal, born 2004 (month + 40)
      {"BG", "5202290008", 0, "5202290008"},  // 29 February 1952
      {"BG", "5000000005", 0, "5000000005"},  // foreigner
      {"BG", "7523169267", 0, "7523169267"},  // other entity, as before
      {"BG", "7523169264", TaxIdBadCheck, ""},
      {"BG", "0113010003", TaxIdBadCheck, ""},  // personal check fits, month 13 does not
      {"BG", "0002290001", TaxIdBadCheck, ""},  // 1900 was not a leap year
      {"BG", "9902300006", TaxIdBadCheck, ""},
      {"BG", "2012345678", TaxIdBadForm, ""},  // the 22 test still holds for ten digits
  });
}

TEST(TaxIdBelgium, NumbersBeginningWithOne) {
  RunCases({
      {"BE", "1005.000.073", 0, "1005000073"},
      {"BE", "1012345646", 0, "1012345646"},  // second digit 0 is fine after a 1
      {"BE", "1012345647", TaxIdBadCheck, ""},
      {"BE", "0123456789", TaxIdBadForm, ""},  // after a 0 the second digit still counts
      {"BE", "0403019261", 0, "0403019261"},
  });
}

TEST(TaxIdNetherlands, SoleTraderNumbersPassModulo97) {
  RunCases({
      {"NL", "000099998b57", 0, "000099998B57"},  // fails the eleven test, passes modulo 97
      {"NL", "481218210B47", 0, "481218210B47"},  // eleven test admits no digit here
      {"NL", "000099998B58", TaxIdBadCheck, ""},
      {"NL", "481218210B48", TaxIdImpossible, ""},
      {"NL", "004495445B01", 0, "004495445B01"},
      {"NL", "004495445B00", TaxIdImpossible, ""},
      {"NL", "NL000099998B57", TaxIdBadForm, ""},
  });
}

TEST(TaxIdIreland, FormOf2013WithASecondLetter) {
  RunCases({
      {"IE", "1234567fa", 0, "1234567FA"},
      {"IE", "1234567WH", 0, "1234567WH"},
      {"IE", "1234567TW", 0, "1234567TW"},
      {"IE", "1234567T", 0, "1234567T"},
      {"IE", "1234567FH", TaxIdBadCheck, ""},
      {"IE", "1234567TA", TaxIdBadCheck, ""},
      {"IE", "1234567FB", TaxIdBadCheck, ""},  // only A, H and W are issued
      {"IE", "1234567FAA", TaxIdBadCheck, ""},
  });
}

TEST(TaxIdIreland, OldFormTakesOneCharacterInTheSecondPlace) {
  RunCases({
      {"IE", "8Z49289F", 0, "8Z49289F"},
      {"IE", "8*49289F", 0, "8*49289F"},
      {"IE", "IE8Z49289F", TaxIdBadForm, ""},  // would have been written back as 8IEZ49289F
      {"IE", "8ZZ49289F", TaxIdBadForm, ""},
      {"IE", "8+Z49289F", TaxIdBadForm, ""},
      {"IE", "IE6433435F", TaxIdBadLength, ""},  // seven digits cannot be the old form
  });
}

TEST(TaxIdLatvia, PersonalCodesWithoutBirthDate) {
  RunCases({
      {"LV", "32579461005", 0, "32579461005"},
      {"LV", "329999-99999", 0, "32999999999"},
      {"LV", "3257946100", TaxIdBadLength, ""},
      {"LV", "33019012345", TaxIdBadForm, ""},  // other codes keep the date test
  });
}

TEST(TaxIdItaly, OfficeCodes888And999) {
  RunCases({
      {"IT", "12345678887", 0, "12345678887"},
      {"IT", "12345679992", 0, "12345679992"},
      {"IT", "12345678888", TaxIdBadCheck, ""},
      {"IT", "12345677770", TaxIdImpossible, ""},
  });
}

}  // namespace
}  // namespace kap
