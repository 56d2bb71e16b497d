// Country rules, one table row per case. Valid numbers are public examples or were worked out
// by hand from the rules; every failure code a country can produce has a row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "taxid/taxid.h"
#include "taxid/tests/taxid_cases.h"

namespace kap {
namespace {

TEST(TaxIdSpain, PersonsForeignersAndCompanies) {
  RunCases({
      {"ES", "12.345.678-z", 0, "12345678Z"},
      {"", "1234567L", 0, "01234567L"},
      {"es", "X1234567L", 0, "X1234567L"},
      {"ES", "K1234567L", 0, "K1234567L"},
      {"ES", "Y1234567X", 0, "Y1234567X"},
      {"ES", "z-1234567-r", 0, "Z1234567R"},
      {"ES", "A58818501", 0, "A58818501"},
      {"ES", "a 5881850 1", 0, "A58818501"},
      {"ES", "Q1234567D", 0, "Q1234567D"},
      {"ES", "P1234569J", 0, "P1234569J"},  // remainder 0 gives the letter J
      {"ES", "A12345690", 0, "A12345690"},  // and the digit 0
      {"ES", "B125", 0, "B00000125"},       // short company number filled, control digit kept
      // Failures.
      {"ES", "A5881850A", TaxIdBadCheck, ""},  // digit-control company typed with a letter
      {"ES", "12345678A", TaxIdBadCheck, ""},
      {"ES", "X1234567T", TaxIdBadCheck, ""},
      {"ES", "Y1234567L", TaxIdBadCheck, ""},  // Y shifts the number before the letter
      {"ES", "Q1234567E", TaxIdBadCheck, ""},
      {"ES", "ES12345678Z", TaxIdBadLength, ""},
      {"ES", "Q12345674", TaxIdBadLength, ""},  // letter-control company without a letter
      {"ES", "123456789Z", TaxIdBadLength, ""},
      {"ES", "12345678", TaxIdBadLength, ""},
      {"ES", "12345678ZZ", TaxIdBadLength, ""},
      {"ES", "X12345678L", TaxIdBadLength, ""},
      {"ES", "I1234567A", TaxIdBadForm, ""},
      {"ES", "HA1234567", TaxIdBadForm, ""},    // beyond "H" as text
      {"ES", "\xA5-1234567L", 0, "01234567L"},  // accented letters are dropped
  });
}

TEST(TaxIdPlainCheckDigit, EveryCountry) {
  RunCases({
      {"AT", "U10223006", 0, "U10223006"},
      {"at", "u 1022 3006", 0, "U10223006"},
      {"AT", "ATU10223006", TaxIdBadForm, ""},
      {"AT", "10223006", TaxIdBadForm, ""},
      {"AT", "U102230061", TaxIdBadLength, ""},
      {"AT", "U1022300", TaxIdBadCheck, ""},  // tested as U0102230 with check 0
      {"AT", "U10223007", TaxIdBadCheck, ""},

      {"BE", "0403019261", 0, "0403019261"},
      {"BE", "403.019.261", 0, "0403019261"},
      {"BE", "2231000097", 0, "2231000097"},  // divisible by 97: the check is 97
      {"BE", "0123456789", TaxIdBadForm, ""},
      {"BE", "B0403019261", TaxIdBadForm, ""},
      {"BE", "04030192610", TaxIdBadLength, ""},
      {"BE", "0403019262", TaxIdBadCheck, ""},

      {"BG", "7523169267", 0, "7523169267"},
      {"BG", "2221234560", TaxIdBadCheck, ""},  // leading 2 followed by 22 passes the form test
      {"BG", "2012345678", TaxIdBadForm, ""},
      {"BG", "3312345678", TaxIdBadForm, ""},
      {"BG", "1000000044", TaxIdBadCheck, ""},  // remainder makes the check 10: no check fits
      {"BG", "7", TaxIdBadLength, ""},
      {"BG", "75231692670", TaxIdBadLength, ""},
      {"BG", "BG7523169267", TaxIdBadForm, ""},
      {"BG", "7523169264", TaxIdBadCheck, ""},

      {"DE", "136695976", 0, "136695976"},
      {"DE", "DE136695976", TaxIdBadForm, ""},
      {"DE", "000000000", TaxIdImpossible, ""},
      {"DE", "1366959761", TaxIdBadLength, ""},
      {"DE", "136695977", TaxIdBadCheck, ""},

      {"DK", "13 58 56 28", 0, "13585628"},
      {"DK", "19", 0, "10000009"},  // zeros go after the first digit
      {"DK", "03585628", TaxIdBadForm, ""},
      {"DK", "135856289", TaxIdBadLength, ""},
      {"DK", "13585627", TaxIdBadCheck, ""},

      {"EE", "100931558", 0, "100931558"},
      {"EE", "1009315580", TaxIdBadLength, ""},
      {"EE", "100931559", TaxIdBadCheck, ""},

      {"FI", "2077-4740", 0, "20774740"},
      {"FI", "207747401", TaxIdBadLength, ""},
      {"FI", "10000080", TaxIdBadCheck, ""},  // no check digit fits 1000008
      {"FI", "20774741", TaxIdBadCheck, ""},

      {"GR", "094259216", 0, "094259216"},
      {"EL", "94259216", 0, "94259216"},  // seven digits weighted as if a zero led, kept at seven
      {"GR", "0942592161", TaxIdBadLength, ""},
      {"GR", "1234567", TaxIdBadLength, ""},
      {"EL", "094259217", TaxIdBadCheck, ""},

      {"HU", "12892312", 0, "12892312"},
      {"HU", "00000000", TaxIdImpossible, ""},
      {"HU", "128923121", TaxIdBadLength, ""},
      {"HU", "12892313", TaxIdBadCheck, ""},

      {"IT", "00743110157", 0, "00743110157"},
      {"IT", "12345671205", 0, "12345671205"},
      {"IT", "12345671213", 0, "12345671213"},
      {"IT", "12345670000", TaxIdImpossible, ""},
      {"IT", "12345671010", TaxIdImpossible, ""},
      {"IT", "00000000010", TaxIdImpossible, ""},
      {"IT", "007431101578", TaxIdBadLength, ""},
      {"IT", "00743110158", TaxIdBadCheck, ""},

      {"LU", "15027442", 0, "15027442"},
      {"LU", "00000000", TaxIdImpossible, ""},
      {"LU", "150274421", TaxIdBadLength, ""},
      {"LU", "15027443", TaxIdBadCheck, ""},

      {"MT", "11679112", 0, "11679112"},
      {"MT", "10000012", TaxIdImpossible, ""},
      {"MT", "116791121", TaxIdBadLength, ""},
      {"MT", "11679113", TaxIdBadCheck, ""},

      {"PL", "856-734-62-15", 0, "8567346215"},
      {"PL", "1000000160", TaxIdBadCheck, ""},  // remainder 10
      {"PL", "85673462151", TaxIdBadLength, ""},
      {"PL", "8567346216", TaxIdBadCheck, ""},

      {"PT", "501964843", 0, "501964843"},
      {"PT", "50196486", 0, "500196486"},  // a zero goes in after the first digit
      {"PT", "001964843", TaxIdBadForm, ""},
      {"PT", "0019648431", TaxIdBadForm, ""},  // the first digit is tested before the length
      {"PT", "5019648431", TaxIdBadLength, ""},
      {"PT", "501964844", TaxIdBadCheck, ""},

      {"SI", "50223054", 0, "50223054"},
      {"SI", "10000071", 0, "10000071"},  // remainder 0: 11 becomes 1
      {"SI", "09999999", TaxIdImpossible, ""},
      {"SI", "502230541", TaxIdBadLength, ""},
      {"SI", "50223055", TaxIdBadCheck, ""},
  });
}

TEST(TaxIdLettersAndForms, EveryCountry) {
  RunCases({
      {"CY", "10259033p", 0, "10259033P"},
      {"CY", "10259033P1", TaxIdBadForm, ""},
      {"CY", "20259033P", TaxIdBadForm, ""},
      {"CY", "10259033", TaxIdBadLength, ""},
      {"CY", "102590331P", TaxIdBadLength, ""},
      {"CY", "10259033Q", TaxIdBadCheck, ""},

      {"CZ", "46505334", 0, "46505334"},
      {"CZ", "640903926", 0, "640903926"},  // special personal number with a check digit
      {"CZ", "7103192745", 0, "7103192745"},
      {"CZ", "7155120005", 0, "7155120005"},  // month plus 50
      {"CZ", "530101123", 0, "530101123"},    // nine digits up to 1953, no check
      {"CZ", "005229123", 0, "005229123"},    // year 00 is a leap year
      {"CZ", "015229123", TaxIdBadForm, ""},
      {"CZ", "540101123", TaxIdBadForm, ""},
      {"CZ", "5301011234", TaxIdBadForm, ""},
      {"CZ", "7113192745", TaxIdBadForm, ""},
      {"CZ", "7104312745", TaxIdBadForm, ""},
      {"CZ", "CZ46505334", TaxIdBadForm, ""},
      {"CZ", "1234567", TaxIdBadLength, ""},
      {"CZ", "12345678901", TaxIdBadLength, ""},
      {"CZ", "46505335", TaxIdBadCheck, ""},
      {"CZ", "640903927", TaxIdBadCheck, ""},
      {"CZ", "7103192746", TaxIdBadCheck, ""},

      {"FR", "40 303 265 045", 0, "40303265045"},
      {"FR", "0h303265045", 0, "0H303265045"},
      {"FR", "4O303265045", TaxIdBadForm, ""},
      {"FR", "AB303265045", TaxIdBadForm, ""},
      {"FR", "403032650451", TaxIdBadLength, ""},
      {"FR", "40000000000", TaxIdImpossible, ""},
      {"FR", "41303265045", TaxIdBadCheck, ""},
      {"FR", "0J303265045", TaxIdBadCheck, ""},

      {"GB", "980 7806 84", 0, "980780684"},
      {"GB", "9807806843", 0, "9807806843"},
      {"GB", "001980780684", 0, "001980780684"},
      {"GB", "100000034", 0, "100000034"},  // remainder 42 allowed from 100 up
      {"GB", "GD012", 0, "GD012"},
      {"GB", "gd", 0, "GD000"},
      {"GB", "HA500", 0, "HA500"},
      {"GB", "GD500", TaxIdImpossible, ""},
      {"GB", "HA499", TaxIdImpossible, ""},
      {"GB", "XX123", TaxIdBadForm, ""},
      {"GB", "98078068", TaxIdBadLength, ""},
      {"GB", "9807806841", TaxIdImpossible, ""},
      {"GB", "000000097", TaxIdImpossible, ""},
      {"GB", "123456797", TaxIdImpossible, ""},
      {"GB", "010000035", TaxIdBadCheck, ""},  // remainder 42 below 100
      {"GB", "980780685", TaxIdBadCheck, ""},

      {"IE", "6433435F", 0, "6433435F"},
      {"IE", "8Z49289F", 0, "8Z49289F"},
      {"IE", "8+49289f", 0, "8+49289F"},
      {"IE", "1Z49289F", TaxIdImpossible, ""},
      {"IE", "0000000W", TaxIdImpossible, ""},
      {"IE", "12345678T", TaxIdBadLength, ""},
      {"IE", "8Z492891F", TaxIdBadLength, ""},
      {"IE", "6433435G", TaxIdBadCheck, ""},

      {"LT", "119511515", 0, "119511515"},
      {"LT", "100001919017", 0, "100001919017"},
      {"LT", "100000810", 0, "100000810"},  // second pass of weights
      {"LT", "119511525", TaxIdImpossible, ""},
      {"LT", "119511526", TaxIdImpossible, ""},  // not ending in 1 decides before the check
      {"LT", "LT119511515", TaxIdBadForm, ""},
      {"LT", "11951151", TaxIdBadLength, ""},
      {"LT", "119511516", TaxIdBadCheck, ""},

      {"LV", "40003521600", 0, "40003521600"},
      {"LV", "40000000020", 0, "40000000020"},  // remainder 4 gives 0
      {"LV", "90000000000", 0, "90000000000"},
      {"LV", "01019012345", 0, "01019012345"},
      {"LV", "29020012345", 0, "29020012345"},
      {"LV", "29029912345", TaxIdBadForm, ""},
      {"LV", "00019012345", TaxIdBadForm, ""},
      {"LV", "01139012345", TaxIdBadForm, ""},
      {"LV", "31049012345", TaxIdBadForm, ""},
      {"LV", "LV40003521600", TaxIdBadForm, ""},
      {"LV", "4000352160", TaxIdBadLength, ""},
      {"LV", "0101901234", TaxIdBadLength, ""},
      {"LV", "40003521601", TaxIdBadCheck, ""},

      {"NL", "004495445b01", 0, "004495445B01"},
      {"NL", "4495445B01", 0, "004495445B01"},
      {"NL", "NL004495445B01", TaxIdBadForm, ""},
      {"NL", "004495445B00", TaxIdImpossible, ""},
      {"NL", "000000000B01", TaxIdImpossible, ""},
      {"NL", "100000060B01", TaxIdImpossible, ""},  // remainder 10
      {"NL", "0044954451B01", TaxIdBadLength, ""},
      {"NL", "004495446B01", TaxIdBadCheck, ""},

      {"RO", "18547290", 0, "0018547290"},
      {"RO", "1630615123457", 0, "1630615123457"},
      {"RO", "2000229123458", 0, "2000229123458"},
      {"RO", "5000229123455", TaxIdBadForm, ""},
      {"RO", "1631315123457", TaxIdBadForm, ""},
      {"RO", "1630631123457", TaxIdBadForm, ""},
      {"RO", "RO18547290", TaxIdBadForm, ""},
      {"RO", "18547290123", TaxIdBadLength, ""},
      {"RO", "7", TaxIdBadLength, ""},
      {"RO", "18547291", TaxIdBadCheck, ""},
      {"RO", "1630615123458", TaxIdBadCheck, ""},

      {"SE", "5561888404-01", 0, "556188840401"},
      {"SE", "556188840400", TaxIdImpossible, ""},
      {"SE", "556188840402", 0, "556188840402"},  // the second suffix digit is not summed
      {"SE", "556188840411", TaxIdBadCheck, ""},  // the first one is
      {"SE", "5561888404011", TaxIdBadLength, ""},
      {"SE", "SE556188840401", TaxIdBadForm, ""},

      {"SK", "2022749619", 0, "2022749619"},
      {"SK", "2099999999", 0, "2099999999"},  // accepted without any further test
      {"SK", "7103192745", 0, "7103192745"},
      {"SK", "530101123", 0, "530101123"},
      {"SK", "540101123", TaxIdBadForm, ""},
      {"SK", "7152292745", TaxIdBadForm, ""},
      {"SK", "SK2022749619", TaxIdBadForm, ""},
      {"SK", "12345678", TaxIdImpossible, ""},
  });
}

}  // namespace
}  // namespace kap
