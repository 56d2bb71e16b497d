#include <cfloat>
#include <cmath>

#include "format/tests/format_fixture.h"

namespace kap::test {
namespace {

TEST(FormatFixedTest, SpecificationsAndOptions) {
  const struct {
    double value;
    const char* spec;
    const char* expected;
  } cases[] = {
      {12.5, "", "12.5"},
      {0.5, "", ".5"},
      {-3, "", "-3"},
      {0, "", ""},
      {0.1, "", ".1"},
      {1e20, "", "100000000000000000000"},
      {-0.25, "", "-.25"},
      {1234.567, "8.2", "00001234.57"},
      {-1234.567, "8.2", "-0001234.57"},
      {-42, "5", "-0042"},
      {12.5, "6.2V", "00001250"},
      {12.5, "S6.2", "+00012.50"},
      {-12.5, "S6.2", "-00012.50"},
      {-12.5, "N6.2", "N00012.50"},
      {12.5, "N6.2", "000012.50"},
      {12.5, "M6.2", " 00012.50"},
      {-12.5, "m6.2", "N00012.50"},
      {0.25, "Z.2", "0.25"},
      {0.25, ".2", ".25"},
      {123456, "4", "3456"},
      {2.5, "1", "2"},
      {3.5, "1", "4"},
      {0.125, ".2", ".12"},
      {0.135, ".2", ".14"},
      {1.005, "4.2", "0001.00"},
      {5, ".", "5"},
      {5, "Z", "5"},
      {0, "Z", "0"},
      {0, "3", "000"},
      {0, "3.1", "000.0"},
      {7, "S", "+7"},
      {7, "x3y", "007"},
      {-7, "M", "N7"},
      {NAN, "3", "000"},
      {INFINITY, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Visible(FormatFixed(c.value, c.spec)), Visible(c.expected))
        << c.value << " with [" << c.spec << "]";
  }
}

TEST(FormatFixedTest, HugeWidthsAreBounded) {
  std::string text = FormatFixed(1, "99999999999999999999.99999999999999");
  EXPECT_LE(text.size(), 2100u);
  EXPECT_EQ(text.substr(text.size() - 3), "000");
  EXPECT_EQ(FormatFixed(DBL_MAX, "").size(), 309u);
}

TEST(CheckNumberSyntaxTest, SignsPointsAndOtherCharacters) {
  const struct {
    const char* text;
    const char* allowed;
    int16_t expected;
  } cases[] = {
      {"123", "", 0},     {" 1 2 3 ", "", 0}, {"", "", 0},      {"-12", "-", 0},
      {"-12", "", -1},    {"+12", "+", 0},    {"+12", "-", 0},  {"12-", "-", -1},
      {" - 12", "-", 0},  {"--1", "-", -1},   {"12.5", ".", 0}, {"12.5", "", -1},
      {"1.2.3", ".", -1}, {".5", ".", 0},     {"-.5", ".-", 0}, {".-5", ".-", -1},
      {"A-1", "-", -1},   {"1A", ".-", -1},   {"1,5", ".", -1}, {"1\t2", "", -1},
      {"-", "-", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckNumberSyntax(c.text, c.allowed), c.expected)
        << "[" << c.text << "] allowed [" << c.allowed << "]";
  }
}

TEST(ValidateNumberTest, RangeDecimalsAndSyntax) {
  const struct {
    const char* text;
    double minimum, maximum;
    int16_t decimals;
    int16_t expected;
  } cases[] = {
      {"12.5", 0, 100, 1, 0},
      {"12.5", 0, 100, 0, -1},
      {"-3", 0, 100, 0, -1},
      {"-3", -10, 100, 0, 0},
      {"12-", -10, 100, 0, -1},
      {"1.2.3", 0, 100, 2, -1},
      {"A-1", -10, 100, 0, -1},
      {"", 0, 100, 0, 0},
      {"", 1, 100, 0, -1},
      {"  ", 0, 0, 0, 0},
      {"100", 0, 100, 0, 0},
      {"101", 0, 100, 0, -1},
      {"12.34", 0, 100, 1, 0},  // more decimals round into the range test
      {"99.96", 0, 99.9, 1, -1},
      {"99.94", 0, 99.9, 1, 0},
      {"0.28", 0.29, 1, 2, -1},
      {"0.29", 0.29, 1, 2, 0},
      {"1.15", 0, 1.15, 2, 0},
      {"1.16", 0, 1.15, 2, -1},
      {"-0.5", -0.5, 0, 1, 0},
      {"-0.6", -0.5, 0, 1, -1},
      {"-0.55", -0.5, 0, 1, 0},
      {"-0.56", -0.5, 0, 1, -1},
      {"1 2", 0, 20, 0, 0},
      {"1 2", 0, 11, 0, -1},
      {"5", 10, 1, 0, -1},
      {"5", 0, 10, -1, -1},
      {"5", 0, 10, 17, -1},
      {"5", 0, 10, 16, 0},
      {"5", NAN, 10, 0, -1},
      {"123456789012345678901234567890", 0, INFINITY, 0, 0},
      {"-123456789012345678901234567890", -INFINITY, 0, 0, 0},
      {"1e5", 0, 1e9, 0, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValidateNumber(c.text, c.minimum, c.maximum, c.decimals), c.expected)
        << "[" << c.text << "] in " << c.minimum << ".." << c.maximum << " with " << c.decimals
        << " decimals";
  }
}

}  // namespace
}  // namespace kap::test
