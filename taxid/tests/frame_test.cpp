// The frame every country shares: blanks, dispatch, write-back width, result names, and
// robustness against arbitrary bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "taxid/taxid.h"

namespace kap {
namespace {

const std::vector<std::string> kCountries = {
    "AT", "BE", "BG", "CY", "CZ", "DE", "DK", "EE", "ES", "",   "FI", "FR", "GB", "GR", "EL",
    "HU", "IE", "IT", "LT", "LU", "LV", "MT", "NL", "PL", "PT", "RO", "SE", "SI", "SK"};

TEST(TaxIdFrame, BlankIsValidForAnyCountry) {
  for (const std::string country : {"ES", "XX", "", " ES", "nl"}) {
    for (std::string value : {std::string(), std::string("   "), std::string(15, ' ')}) {
      std::string before = value;
      EXPECT_EQ(ValidateTaxId(value, country), TaxIdOk) << "country '" << country << "'";
      EXPECT_EQ(value, before);
    }
  }
}

TEST(TaxIdFrame, UnknownOrPaddedCountryHasNoRule) {
  for (const std::string country : {"XX", "ES ", " ES", "E", "ESP", "UK", "E\xA5"}) {
    std::string value = "12345678z ";
    EXPECT_EQ(ValidateTaxId(value, country), TaxIdNoRule) << "country '" << country << "'";
    EXPECT_EQ(value, "12345678z ");
  }
}

TEST(TaxIdFrame, EveryListedCountryHasARule) {
  for (const std::string& country : kCountries) {
    std::string value = "x";
    EXPECT_NE(ValidateTaxId(value, country), TaxIdNoRule) << "country '" << country << "'";
  }
}

TEST(TaxIdFrame, WriteBackKeepsTheValueWidth) {
  struct WidthCase {
    std::string country, input, written;
  };
  const std::vector<WidthCase> cases = {
      {"ES", "1234567L       ", "01234567L      "},    // 15 wide: trailing spaces
      {"ES", "  12.345.678-z  ", "12345678Z       "},  // leading spaces and separators go
      {"ES", "1234567L", "01234567"},                  // too narrow: cut to the width
      {"NL", "4495445b01    ", "004495445B01  "},
      {"GB", "gd12 ", "GD012"},
  };
  for (const WidthCase& c : cases) {
    std::string value = c.input;
    ASSERT_EQ(ValidateTaxId(value, c.country), TaxIdOk) << "input '" << c.input << "'";
    EXPECT_EQ(value, c.written) << "input '" << c.input << "'";
    EXPECT_EQ(value.size(), c.input.size());
  }
}

TEST(TaxIdFrame, ResultNames) {
  EXPECT_STREQ(TaxIdResultName(0), "TaxIdOk");
  EXPECT_STREQ(TaxIdResultName(-1), "TaxIdNoRule");
  EXPECT_STREQ(TaxIdResultName(-2), "TaxIdBadLength");
  EXPECT_STREQ(TaxIdResultName(-3), "TaxIdBadForm");
  EXPECT_STREQ(TaxIdResultName(-4), "TaxIdBadCheck");
  EXPECT_STREQ(TaxIdResultName(-5), "TaxIdImpossible");
  EXPECT_STREQ(TaxIdResultName(1), "");
  EXPECT_STREQ(TaxIdResultName(-6), "");
}

// Arbitrary bytes, lengths 0 to 64, biased towards digits so that the deeper steps run.
TEST(TaxIdFrame, RandomBytesNeverCrashOrLeaveTheCodes) {
  std::mt19937 rng(20261208);
  std::vector<std::string> countries = kCountries;
  countries.insert(countries.end(), {"XX", "E", "gr"});
  const std::string alphabet = "0123456789BUGDHAIOJ*+ -.";
  for (const std::string& country : countries) {
    for (int round = 0; round < 400; ++round) {
      size_t length = rng() % 65;
      std::string value;
      for (size_t i = 0; i < length; ++i) {
        value +=
            round % 2 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
      }
      std::string typed = value;
      int16_t code = ValidateTaxId(value, country);
      ASSERT_TRUE(code <= 0 && code >= -5) << country << " gave " << code;
      ASSERT_EQ(value.size(), typed.size());
      if (code != TaxIdOk) {
        ASSERT_EQ(value, typed);
      }
    }
  }
}

}  // namespace
}  // namespace kap
